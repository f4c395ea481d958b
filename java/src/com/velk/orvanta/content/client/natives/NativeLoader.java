package com.velk.orvanta.content.client.natives;

import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.AccessDeniedException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Loads the client's native libraries: from the folder named by {@value #DIR_PROPERTY} when that
 * is set, else the copies the jar carries. A copy installed on {@code java.library.path} is used
 * instead only when it is of this version, or when {@value #LIBRARY_PATH_PROPERTY} is
 * {@code true}; a library of another version is never loaded unasked.
 *
 * <p>The jar holds one folder per platform, {@code natives/<os>-<arch>/} ({@code windows-x86} for
 * a 32-bit JVM on Windows, {@code windows-x86_64} for a 64-bit one, {@code windows-aarch64} for one on ARM64,
 * {@code linux-x86_64}), each
 * with a file {@code index} naming its files, and {@code natives/index} naming the folders. The
 * first time a library is needed the platform's whole folder is copied out, so that a library
 * finds the ones it depends on beside it, into
 * {@code <cache>/orvanta-natives/<version>-<content hash>/}: the user's cache directory
 * ({@code %LOCALAPPDATA%}, {@code ~/Library/Caches}, {@code $XDG_CACHE_HOME} or
 * {@code ~/.cache}), or {@code java.io.tmpdir} when that cannot be used. Each file is written
 * under a unique name and moved into place in one step, so a JVM never loads a file another one
 * is still writing, and a copy that is already there with the same bytes is used as it is. A
 * second class loader in the same JVM (an application reloaded in place, two plugins that each
 * bundle the jar) cannot load those files again, so it gets a copy of its own.
 *
 * <p>Each library carries its version as the text {@code orvanta-natives-version=<version>;},
 * read from the file before it is loaded: a library once loaded cannot be taken back.
 *
 * <p>Internal to the client's classes; not an API.
 */
public final class NativeLoader {
    /** System property naming a folder that holds this platform's libraries; nothing is extracted then. */
    public static final String DIR_PROPERTY = "orvanta.natives.dir";
    /** System property that, when {@code true}, loads the libraries from {@code java.library.path} whatever their version. */
    public static final String LIBRARY_PATH_PROPERTY = "orvanta.natives.useLibraryPath";

    private static final String INDEX = "index";
    private static final String ROOT = "natives";
    private static final String LOADER_COPY = "loader-";
    private static final String MODULE = "com.velk.orvanta.content.client";
    private static final Pattern MISSING_LIBRARY = Pattern.compile("([^\\s:/\\\\]+): cannot open shared object file");
    private static final byte[] VERSION_MARK = "orvanta-natives-version=".getBytes(StandardCharsets.US_ASCII);
    private static Path extracted;

    private NativeLoader() {}

    /**
     * Loads a library or throws.
     *
     * @param name the library as {@link System#loadLibrary} names it, e.g. {@code Voxcap}
     * @throws UnsatisfiedLinkError saying why it could not be loaded and what to do
     */
    public static synchronized void load(String name) {
        String fileName = System.mapLibraryName(name);
        String override = System.getProperty(DIR_PROPERTY);
        if (override != null) {
            Path file = Paths.get(override).resolve(fileName);
            String where = "from " + DIR_PROPERTY + "=" + override;
            refuseOtherVersion(file, where);
            loadFile(file, where);
            return;
        }
        Path installed = onLibraryPath(fileName);
        if (installed != null && (Boolean.getBoolean(LIBRARY_PATH_PROPERTY) || version().equals(versionOf(installed)))) {
            loadFile(installed, "from java.library.path");
            return;
        }
        Path folder;
        try {
            folder = extractedFolder();
        } catch (IOException cannotExtract) {
            String message = "cannot load " + fileName + ": " + cannotExtract.getMessage();
            if (installed != null) {
                message += "; the one on java.library.path, " + installed + ", is of version " + versionOf(installed)
                    + " where these classes are " + version() + " (set -D" + LIBRARY_PATH_PROPERTY + "=true to load it anyway)";
            }
            UnsatisfiedLinkError failure = new UnsatisfiedLinkError(message);
            failure.initCause(cannotExtract);
            throw failure;
        }
        loadFile(folder.resolve(fileName), "copied from the jar to " + folder);
    }

    private static void refuseOtherVersion(Path file, String where) {
        String found = versionOf(file);
        if (Files.exists(file) && !found.equals(version())) {
            throw new UnsatisfiedLinkError("cannot load " + file.getFileName() + " (" + where + "): it is of version " + found
                + ", these classes are " + version() + "; point " + DIR_PROPERTY + " at the natives of version " + version());
        }
    }

    /** The first file of that name in java.library.path, as System.loadLibrary would find it. */
    private static Path onLibraryPath(String fileName) {
        for (String dir : System.getProperty("java.library.path", "").split(File.pathSeparator)) {
            if (dir.isEmpty()) continue;
            Path file = Paths.get(dir, fileName);
            if (Files.isRegularFile(file)) return file;
        }
        return null;
    }

    /** The version a library file carries, or "unknown". */
    static String versionOf(Path file) {
        try {
            byte[] bytes = Files.readAllBytes(file);
            for (int i = 0; i + VERSION_MARK.length <= bytes.length; i++) {
                if (!startsWith(bytes, i, VERSION_MARK)) continue;
                int start = i + VERSION_MARK.length;
                int end = start;
                while (end < bytes.length && end - start < 64 && bytes[end] != ';') end++;
                if (end < bytes.length && bytes[end] == ';') return new String(bytes, start, end - start, StandardCharsets.US_ASCII);
            }
        } catch (IOException unreadable) {
            // Not ours to judge: the load says what is wrong with the file.
        }
        return "unknown";
    }

    private static boolean startsWith(byte[] bytes, int at, byte[] prefix) {
        for (int j = 0; j < prefix.length; j++) {
            if (bytes[at + j] != prefix[j]) return false;
        }
        return true;
    }

    private static void loadFile(Path file, String where) {
        try {
            try {
                System.load(file.toAbsolutePath().toString());
            } catch (UnsatisfiedLinkError e) {
                if (!String.valueOf(e.getMessage()).contains("already loaded in another classloader")) throw e;
                loadOwnCopy(file);
            }
        } catch (UnsatisfiedLinkError e) {
            UnsatisfiedLinkError failure = new UnsatisfiedLinkError("cannot load " + file.getFileName() + " (" + where + "): "
                + whyNotLoaded(e.getMessage(), file));
            failure.initCause(e);
            throw failure;
        } catch (RuntimeException e) {
            // IllegalCallerException (Java 9 and later): the JVM denies this module native access.
            if (!e.getClass().getName().equals("java.lang.IllegalCallerException")) throw e;
            UnsatisfiedLinkError failure = new UnsatisfiedLinkError("cannot load " + file.getFileName() + ": this JVM denies"
                + " native access to the classes of " + MODULE + "; grant it with " + nativeAccessGrant() + " (" + e.getMessage() + ")");
            failure.initCause(e);
            throw failure;
        }
    }

    /** What the application adds to grant these classes native access, on the module path or the class path. */
    static String nativeAccessGrant() {
        boolean named;
        try {
            Object module = Class.class.getMethod("getModule").invoke(NativeLoader.class);
            named = (Boolean) module.getClass().getMethod("isNamed").invoke(module);
        } catch (ReflectiveOperationException java8) {
            named = false;
        }
        return named ? "--enable-native-access=" + MODULE + " on the java command line"
            : "--enable-native-access=ALL-UNNAMED on the java command line (or Enable-Native-Access: ALL-UNNAMED in the"
                + " manifest of the application's own executable jar)";
    }

    /**
     * Loads a library already loaded by another class loader of this JVM from a copy of its own,
     * in a private folder of the cache (or the temporary directory). Only the library is copied:
     * the backend it needs is in the process already, and the system's loader shares it by name
     * (the Windows DLLs need none of ours). The copy is removed once loaded where the system
     * allows that (not on Windows, where a later one removes those left an hour before).
     */
    private static void loadOwnCopy(Path file) {
        List<String> refusals = new ArrayList<>();
        for (Path base : candidateDirectories()) {
            Path copy;
            try {
                createPrivateDirectories(base);
                removeLeftoverCopies(base);
                copy = Files.createTempDirectory(base, LOADER_COPY);
                Files.copy(file, copy.resolve(file.getFileName()));
            } catch (IOException refused) {
                refusals.add(base + ": " + reason(refused));
                continue;
            }
            System.load(copy.resolve(file.getFileName()).toAbsolutePath().toString());
            deleteFolder(copy);
            return;
        }
        throw new UnsatisfiedLinkError("it is loaded by another class loader of this JVM, and a copy of its own could not be"
            + " made (" + String.join("; ", refusals) + ")");
    }

    /** Copies for other class loaders an hour old: no other JVM is still copying or loading them. */
    private static void removeLeftoverCopies(Path base) throws IOException {
        long anHourAgo = System.currentTimeMillis() - 3_600_000L;
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(base)) {
            for (Path entry : entries) {
                if (entry.getFileName().toString().startsWith(LOADER_COPY)
                    && Files.getLastModifiedTime(entry).toMillis() < anHourAgo) {
                    deleteFolder(entry);
                }
            }
        }
    }

    /** Removes a folder of copies, as far as the system lets it go (a DLL in use stays). */
    private static void deleteFolder(Path folder) {
        try (DirectoryStream<Path> files = Files.newDirectoryStream(folder)) {
            for (Path each : files) Files.deleteIfExists(each);
            Files.deleteIfExists(folder);
        } catch (IOException inUse) {
            // Left for a later run.
        }
    }

    /** Turns the system's reason for refusing a library into what happened and what to do. */
    static String whyNotLoaded(String systemMessage, Path file) {
        String message = String.valueOf(systemMessage);
        Matcher missing = MISSING_LIBRARY.matcher(message);
        while (missing.find()) {
            if (!missing.group(1).equals(String.valueOf(file.getFileName()))) {
                return "it needs the system library " + missing.group(1) + ", which is not installed; install the"
                    + " package that provides it (" + message + ")";
            }
        }
        if (!Files.exists(file)) {
            return "there is no such file (" + message + ")";
        }
        if (message.contains("failed to map segment") || message.contains("operation not permitted")) {
            return "the system refuses to run code from " + file.getParent() + " (mounted noexec?); point "
                + DIR_PROPERTY + " or java.io.tmpdir at a folder that allows it (" + message + ")";
        }
        if (message.contains("Can't find dependent libraries")) {
            return "a DLL it needs is not installed (" + message + ")";
        }
        if (message.contains("wrong ELF class") || message.contains("32-bit") || message.contains("64-bit")) {
            return "it is built for another architecture than this JVM (" + message + ")";
        }
        return message;
    }

    /**
     * The jar's folder for a JVM with these {@code os.name} and {@code os.arch}, e.g.
     * {@code windows-x86_64}, or an error naming the platform and the ones the jar carries.
     */
    static String platformFolder(String osName, String osArch, List<String> carried) {
        String os = osName.toLowerCase(Locale.ROOT);
        String arch = osArch.toLowerCase(Locale.ROOT);
        os = os.startsWith("windows") ? "windows"
            : os.startsWith("linux") ? "linux"
            : os.startsWith("mac") ? "macos"
            : os.replaceAll("[^a-z0-9]", "");
        arch = arch.matches("x86|i[3-6]86") ? "x86"
            : arch.equals("amd64") || arch.equals("x86_64") ? "x86_64"
            : arch.equals("arm64") ? "aarch64"
            : arch;
        String folder = os + "-" + arch;
        if (carried.contains(folder)) return folder;
        String message = "no native libraries for this platform: the JVM reports os.name=" + osName + ", os.arch=" + osArch
            + " (" + folder + "); the jar carries " + (carried.isEmpty() ? "none" : String.join(", ", carried));
        throw new UnsatisfiedLinkError(message);
    }

    private static Path extractedFolder() throws IOException {
        if (extracted == null) {
            List<String> carried = readIndex(ROOT);
            String folder = platformFolder(System.getProperty("os.name"), System.getProperty("os.arch"), carried);
            extracted = extract(ROOT + "/" + folder, candidateDirectories());
        }
        return extracted;
    }

    /** The user's cache directory first, then the temporary directory. */
    private static List<Path> candidateDirectories() {
        List<Path> candidates = new ArrayList<>();
        String os = System.getProperty("os.name").toLowerCase(Locale.ROOT);
        String home = System.getProperty("user.home");
        String cache = os.startsWith("windows") ? System.getenv("LOCALAPPDATA")
            : os.startsWith("mac") ? home + "/Library/Caches"
            : System.getenv("XDG_CACHE_HOME") != null && !System.getenv("XDG_CACHE_HOME").isEmpty() ? System.getenv("XDG_CACHE_HOME")
            : home + "/.cache";
        if (cache != null) candidates.add(Paths.get(cache, "orvanta-natives"));
        // The temporary directory is shared: one folder per user, which nobody else may write.
        candidates.add(Paths.get(System.getProperty("java.io.tmpdir"), "orvanta-natives-" + System.getProperty("user.name")));
        return candidates;
    }

    /** Copies the jar's folder into the first candidate that takes it; says why each one did not. */
    static Path extract(String folder, List<Path> candidates) throws IOException {
        Map<String, byte[]> files = new LinkedHashMap<>();
        for (String file : readIndex(folder)) files.put(file, readAll(folder + "/" + file));
        String name = version().replaceAll("[^A-Za-z0-9._-]", "_") + "-" + contentHash(files);
        List<String> refusals = new ArrayList<>();
        for (Path base : candidates) {
            Path target = base.resolve(name);
            try {
                copyInto(target, files);
                return target;
            } catch (IOException refused) {
                refusals.add(target + ": " + reason(refused));
            }
        }
        throw new IOException("cannot copy the native libraries out of the jar (" + String.join("; ", refusals)
            + "). Give the JVM a writable folder that allows running code with -Djava.io.tmpdir=..., or extract "
            + folder + "/ from the jar yourself and name its folder with -D" + DIR_PROPERTY + "=...");
    }

    private static void copyInto(Path target, Map<String, byte[]> files) throws IOException {
        createPrivateDirectories(target);
        for (Map.Entry<String, byte[]> file : files.entrySet()) {
            Path copy = target.resolve(file.getKey());
            if (!sameBytes(copy, file.getValue())) {
                Path part = Files.createTempFile(target, file.getKey() + ".", ".part");
                try {
                    Files.write(part, file.getValue());
                    makePrivate(part);
                    Files.move(part, copy, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
                } finally {
                    Files.deleteIfExists(part);
                }
            }
            if (!Files.isExecutable(copy)) {
                // Also what the system says of every file on a file system mounted noexec.
                throw new IOException("the system does not allow running " + copy.getFileName() + " from there (mounted noexec?)");
            }
        }
    }

    private static boolean sameBytes(Path file, byte[] bytes) {
        try {
            return Files.isRegularFile(file) && Files.size(file) == bytes.length && Arrays.equals(Files.readAllBytes(file), bytes);
        } catch (IOException unreadable) {
            return false;
        }
    }

    private static void createPrivateDirectories(Path dir) throws IOException {
        Path parent = dir.getParent();
        if (parent != null && !Files.isDirectory(parent)) createPrivateDirectories(parent);
        try {
            Files.createDirectory(dir);
        } catch (FileAlreadyExistsException there) {
            if (!Files.isDirectory(dir)) throw there;
        }
        // Our own folder is closed to other users; one that another user made (and keeps
        // writable to them) cannot be changed by us, which refuses it.
        if (dir.getFileName().toString().startsWith("orvanta-natives")) makePrivate(dir);
    }

    /** Owner only, executable: what a copied library and our folders need. */
    private static void makePrivate(Path path) throws IOException {
        PosixFileAttributeView posix = Files.getFileAttributeView(path, PosixFileAttributeView.class);
        if (posix != null) posix.setPermissions(PosixFilePermissions.fromString("rwx------"));
    }

    private static String reason(IOException e) {
        if (e instanceof AccessDeniedException) return "permission denied";
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return e.getMessage();
    }

    /** These classes' version, from natives/version, or "unknown" where the build gave none. */
    static String version() {
        try {
            return new String(readAll(ROOT + "/version"), StandardCharsets.UTF_8).trim();
        } catch (IOException none) {
            return "unknown";
        }
    }

    private static String contentHash(Map<String, byte[]> files) {
        try {
            MessageDigest sha = MessageDigest.getInstance("SHA-256");
            for (Map.Entry<String, byte[]> file : files.entrySet()) {
                sha.update(file.getKey().getBytes(StandardCharsets.UTF_8));
                sha.update((byte) 0);
                sha.update(file.getValue());
            }
            StringBuilder hex = new StringBuilder();
            for (byte b : Arrays.copyOf(sha.digest(), 8)) hex.append(String.format("%02x", b & 0xFF));
            return hex.toString();
        } catch (NoSuchAlgorithmException everyJvmHasIt) {
            throw new AssertionError(everyJvmHasIt);
        }
    }

    private static List<String> readIndex(String folder) throws IOException {
        List<String> files = new ArrayList<>();
        try (BufferedReader index = new BufferedReader(
                new InputStreamReader(open(folder + "/" + INDEX), StandardCharsets.UTF_8))) {
            for (String line; (line = index.readLine()) != null; ) {
                String file = line.trim();
                if (file.isEmpty()) continue;
                if (file.contains("/") || file.contains("\\") || file.startsWith(".")) {
                    throw new IOException("bad file name in " + folder + "/" + INDEX + ": " + file);
                }
                files.add(file);
            }
        }
        return files;
    }

    private static byte[] readAll(String resource) throws IOException {
        try (InputStream in = open(resource)) {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] chunk = new byte[1 << 16];
            for (int n; (n = in.read(chunk)) > 0; ) bytes.write(chunk, 0, n);
            return bytes.toByteArray();
        }
    }

    private static InputStream open(String resource) throws IOException {
        // Through the class, so that a named module finds its own resources.
        InputStream in = NativeLoader.class.getResourceAsStream("/" + resource);
        if (in == null) {
            throw new IOException("no " + resource + " beside these classes");
        }
        return in;
    }

    /** For the tests: where the jar's libraries were copied to, or null if nothing was copied. */
    static synchronized File extractedTo() {
        return extracted == null ? null : extracted.toFile();
    }
}
