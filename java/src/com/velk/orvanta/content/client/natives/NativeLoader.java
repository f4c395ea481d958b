package com.velk.orvanta.content.client.natives;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Loads the client's native libraries: from {@code java.library.path} when they are installed
 * there, otherwise from the jar that carries them.
 *
 * <p>The jar holds one folder per platform, {@code natives/<os>-<arch>/} (for example
 * {@code natives/windows-x86/Voxcap.dll}, {@code natives/linux-x86_64/libVoxcap.so}), with a file
 * {@code index} that names every file of the folder, one per line. The first time a library is
 * needed the whole folder is copied into a private temporary directory, so that a library finds
 * the ones it depends on beside it, and the library is loaded from there. Every library of the
 * process comes from that one copy.
 *
 * <p>Internal to the client's classes; not an API.
 */
public final class NativeLoader {
    private static final String INDEX = "index";
    private static Path extracted;

    private NativeLoader() {}

    /** Loads the library {@code name} (as {@link System#loadLibrary} names it) or throws. */
    public static synchronized void load(String name) {
        try {
            System.loadLibrary(name);
        } catch (UnsatisfiedLinkError notInstalled) {
            try {
                System.load(extractedFolder().resolve(System.mapLibraryName(name)).toString());
            } catch (IOException | UnsatisfiedLinkError fromJar) {
                UnsatisfiedLinkError failure = new UnsatisfiedLinkError("cannot load native library "
                    + name + " from java.library.path (" + notInstalled.getMessage()
                    + ") nor from the jar (" + fromJar + ")");
                failure.initCause(fromJar);
                throw failure;
            }
        }
    }

    /** The jar's folder for this platform, e.g. {@code natives/linux-x86_64}. */
    static String platformFolder() {
        return "natives/" + osName() + "-" + archName();
    }

    private static String osName() {
        String os = System.getProperty("os.name").toLowerCase(Locale.ROOT);
        if (os.startsWith("windows")) return "windows";
        if (os.startsWith("linux")) return "linux";
        return os.replaceAll("[^a-z0-9]", "");
    }

    private static String archName() {
        String arch = System.getProperty("os.arch").toLowerCase(Locale.ROOT);
        if (arch.matches("x86|i[3-6]86")) return "x86";
        if (arch.equals("amd64") || arch.equals("x86_64")) return "x86_64";
        return arch;
    }

    private static Path extractedFolder() throws IOException {
        if (extracted == null) {
            extracted = extract(platformFolder());
        }
        return extracted;
    }

    private static Path extract(String folder) throws IOException {
        List<String> files = readIndex(folder);
        // createTempDirectory makes the directory readable by its owner only.
        Path target = Files.createTempDirectory("orvanta-natives-");
        target.toFile().deleteOnExit();
        for (String file : files) {
            Path copy = target.resolve(file);
            try (InputStream in = open(folder + "/" + file)) {
                Files.copy(in, copy, StandardCopyOption.REPLACE_EXISTING);
            }
            // Registered after the folder, so deleted before it. A loaded DLL cannot be
            // deleted on Windows; its copy then stays in the temporary directory.
            copy.toFile().deleteOnExit();
        }
        return target;
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

    private static InputStream open(String resource) throws IOException {
        InputStream in = NativeLoader.class.getClassLoader().getResourceAsStream(resource);
        if (in == null) {
            throw new IOException("no " + resource + " in the class path");
        }
        return in;
    }

    /** For the tests: where the jar's libraries were copied to, or null if nothing was copied. */
    static synchronized File extractedTo() {
        return extracted == null ? null : extracted.toFile();
    }
}
