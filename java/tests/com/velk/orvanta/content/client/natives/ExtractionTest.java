package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.TreeSet;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Copying the natives out of the jar, each case in fresh JVMs (LoaderProbe) with their own cache
 * and temporary directories. Run with the client jar on the class path.
 */
class ExtractionTest {
    private static final String FOLDER = "natives/linux-x86_64";
    private static final List<String> FILES = Arrays.asList("libwinhost-linux.so", "libVoxcap.so", "libDeskcap.so");

    private Path work;
    private Path cache;
    private Path temp;
    private final List<Path> mounts = new ArrayList<>();

    @BeforeEach
    void makeDirectories() throws IOException {
        work = Files.createTempDirectory("extraction-test");
        cache = Files.createDirectory(work.resolve("cache"));
        temp = Files.createDirectory(work.resolve("tmp"));
        Files.createDirectory(work.resolve("empty"));
    }

    @AfterEach
    void removeDirectories() throws Exception {
        for (Path mount : mounts) run("umount", mount.toString());
        try (Stream<Path> all = Files.walk(work)) {
            for (Path path : all.sorted(Comparator.reverseOrder()).collect(Collectors.toList())) {
                path.toFile().setWritable(true);
                Files.delete(path);
            }
        }
    }

    private static final class Outcome {
        final int status;
        final String output;

        Outcome(int status, String output) {
            this.status = status;
            this.output = output;
        }
    }

    private Process startProbe(String... properties) throws IOException {
        List<String> command = new ArrayList<>(Arrays.asList(
            Paths.get(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
            "-cp", System.getProperty("java.class.path"),
            "-Djava.library.path=" + work.resolve("empty"), "-Djava.io.tmpdir=" + temp));
        command.addAll(Arrays.asList(properties));
        command.add(LoaderProbe.class.getName());
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        builder.environment().put("XDG_CACHE_HOME", cache.toString());
        return builder.start();
    }

    private static Outcome finish(Process probe) throws Exception {
        String output = new String(readAll(probe.getInputStream()), StandardCharsets.UTF_8).trim();
        return new Outcome(probe.waitFor(), output);
    }

    private Outcome probe(String... properties) throws Exception {
        return finish(startProbe(properties));
    }

    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        byte[] chunk = new byte[1 << 16];
        for (int n; (n = in.read(chunk)) > 0; ) bytes.write(chunk, 0, n);
        return bytes.toByteArray();
    }

    private static byte[] fromJar(String file) throws IOException {
        return resource(FOLDER + "/" + file);
    }

    private static byte[] resource(String path) throws IOException {
        try (InputStream in = ExtractionTest.class.getClassLoader().getResourceAsStream(path)) {
            return readAll(in);
        }
    }

    private static Path loadedFrom(Outcome outcome) {
        assertEquals(0, outcome.status, outcome.output);
        return Paths.get(outcome.output.replaceFirst("^loaded from ", ""));
    }

    private static boolean run(String... command) throws Exception {
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        readAll(process.getInputStream());
        return process.waitFor() == 0;
    }

    /** Mounts a small tmpfs over dir with options, or skips the test (saying so) where mounting is not allowed. */
    private void mountOrSkip(Path dir, String options) throws Exception {
        boolean mounted = run("mount", "-t", "tmpfs", "-o", options + ",size=16m", "tmpfs", dir.toString());
        if (!mounted) System.out.println("SKIPPED: cannot mount a " + options + " tmpfs here");
        Assumptions.assumeTrue(mounted, "cannot mount a " + options + " tmpfs here");
        mounts.add(dir);
    }

    /** A folder nobody can write to: a read-only mount where allowed, else (not as root) a read-only mode. */
    private void makeUnwritable(Path dir) throws Exception {
        if (run("mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", dir.toString())) {
            mounts.add(dir);
            return;
        }
        Assumptions.assumeFalse("root".equals(System.getProperty("user.name")), "root, and cannot mount");
        assertTrue(dir.toFile().setWritable(false, false));
    }

    @Test
    void jvmsStartingAtOnceShareOneCompleteCopy() throws Exception {
        List<Process> probes = new ArrayList<>();
        for (int i = 0; i < 4; i++) probes.add(startProbe());
        TreeSet<Path> folders = new TreeSet<>();
        for (Process probe : probes) folders.add(loadedFrom(finish(probe)));

        assertEquals(1, folders.size(), folders.toString());
        Path folder = folders.first();
        assertEquals(cache.resolve("orvanta-natives"), folder.getParent());
        assertTrue(folder.getFileName().toString().matches("1\\.0\\.0-[0-9a-f]{16}"), folder.toString());
        // Every file whole, nothing half-written left behind.
        try (Stream<Path> files = Files.list(folder)) {
            assertEquals(new TreeSet<>(FILES), files.map(f -> f.getFileName().toString()).collect(Collectors.toCollection(TreeSet::new)));
        }
        for (String file : FILES) assertArrayEquals(fromJar(file), Files.readAllBytes(folder.resolve(file)), file);
    }

    @Test
    void anIdenticalCopyIsReusedAndADamagedOneReplaced() throws Exception {
        Path folder = loadedFrom(probe());
        Object voxcap = Files.getAttribute(folder.resolve("libVoxcap.so"), "unix:ino");
        Path deskcap = folder.resolve("libDeskcap.so");
        Files.write(deskcap, Arrays.copyOf(fromJar("libDeskcap.so"), 1000));
        Object damaged = Files.getAttribute(deskcap, "unix:ino");

        assertEquals(folder, loadedFrom(probe()));
        assertEquals(voxcap, Files.getAttribute(folder.resolve("libVoxcap.so"), "unix:ino"));
        assertNotEquals(damaged, Files.getAttribute(deskcap, "unix:ino"));
        assertArrayEquals(fromJar("libDeskcap.so"), Files.readAllBytes(deskcap));
    }

    @Test
    void anUnwritableCacheFallsBackToTheTemporaryDirectory() throws Exception {
        makeUnwritable(cache);
        Path folder = loadedFrom(probe());
        assertEquals(temp.resolve("orvanta-natives-" + System.getProperty("user.name")), folder.getParent());
    }

    @Test
    void nowhereToWriteSaysWhereItTriedAndWhatToDo() throws Exception {
        makeUnwritable(cache);
        makeUnwritable(temp);
        Outcome refused = probe();
        assertEquals(3, refused.status, refused.output);
        assertTrue(refused.output.contains(cache.toString()) && refused.output.contains(temp.toString()), refused.output);
        assertTrue(refused.output.contains("Read-only file system") || refused.output.contains("permission denied"), refused.output);
        assertTrue(refused.output.contains("-Djava.io.tmpdir") && refused.output.contains("-D" + NativeLoader.DIR_PROPERTY),
            refused.output);
    }

    @Test
    void aNoexecTemporaryDirectoryIsNamedAsTheReason() throws Exception {
        mountOrSkip(cache, "noexec");
        mountOrSkip(temp, "noexec");
        Outcome refused = probe();
        assertEquals(3, refused.status, refused.output);
        assertTrue(refused.output.contains("noexec"), refused.output);
        assertTrue(refused.output.contains("-Djava.io.tmpdir"), refused.output);
    }

    @Test
    void theOverrideFolderIsLoadedAsItIs() throws Exception {
        Path natives = copies("natives", NativeLoader.version());
        assertEquals("loaded from null", probe("-D" + NativeLoader.DIR_PROPERTY + "=" + natives).output);
        try (Stream<Path> files = Files.list(cache)) {
            assertEquals(0, files.count(), "nothing extracted");
        }
    }

    @Test
    void librariesOnTheLibraryPathAreUsedOnlyOfTheSameVersionOrWhenAskedFor() throws Exception {
        String libraryPath = "-Djava.library.path=";
        Path same = copies("same", NativeLoader.version());
        assertEquals("loaded from null", probe(libraryPath + same).output);

        Path stale = copies("stale", "0.9.1");
        assertTrue(probe(libraryPath + stale).output.startsWith("loaded from " + cache), "the jar's copies are used instead");
        assertEquals("loaded from null", probe(libraryPath + stale, "-D" + NativeLoader.LIBRARY_PATH_PROPERTY + "=true").output);

        Outcome refused = probe("-D" + NativeLoader.DIR_PROPERTY + "=" + stale);
        assertEquals(3, refused.status, refused.output);
        assertTrue(refused.output.contains("version 0.9.1") && refused.output.contains("classes are " + NativeLoader.version()),
            refused.output);
    }

    /** The jar's libraries in a folder of their own, marked with that version. */
    private Path copies(String name, String version) throws IOException {
        Path folder = Files.createDirectory(work.resolve(name));
        byte[] mark = ("orvanta-natives-version=" + NativeLoader.version() + ";").getBytes(StandardCharsets.US_ASCII);
        byte[] marked = ("orvanta-natives-version=" + version + ";").getBytes(StandardCharsets.US_ASCII);
        for (String file : FILES) {
            byte[] library = fromJar(file);
            for (int at = 0; at + mark.length <= library.length; at++) {
                if (Arrays.equals(Arrays.copyOfRange(library, at, at + mark.length), mark)) {
                    assertEquals(mark.length, marked.length, "test setup: versions of one length");
                    System.arraycopy(marked, 0, library, at, marked.length);
                }
            }
            Files.write(folder.resolve(file), library);
        }
        assertEquals(version, NativeLoader.versionOf(folder.resolve("libVoxcap.so")));
        return folder;
    }

    @Test
    void jarListsItsPlatforms() throws Exception {
        String index = new String(resource("natives/index"), StandardCharsets.UTF_8);
        assertTrue(Arrays.asList(index.split("\n")).containsAll(Arrays.asList("windows-x86", "windows-x86_64", "windows-aarch64",
            "linux-x86_64", "linux-aarch64")), index);
        // A JVM loads only DLLs of its own machine: IMAGE_FILE_MACHINE_I386, _AMD64 and _ARM64.
        for (String dll : Arrays.asList("Voxcap.dll", "Deskcap.dll")) {
            assertEquals(0x14c, peMachine(resource("natives/windows-x86/" + dll)), dll);
            assertEquals(0x8664, peMachine(resource("natives/windows-x86_64/" + dll)), dll);
            assertEquals(0xaa64, peMachine(resource("natives/windows-aarch64/" + dll)), dll);
        }
        assertTrue(new File(NativeLoader.class.getProtectionDomain().getCodeSource().getLocation().toURI()).isFile(),
            "test setup: the classes come from the jar");
    }

    /** The Machine field of a PE file's COFF header, which follows the "PE\0\0" signature. */
    private static int peMachine(byte[] image) {
        ByteBuffer pe = ByteBuffer.wrap(image).order(ByteOrder.LITTLE_ENDIAN);
        int header = pe.getInt(0x3c);
        assertEquals(0x00004550, pe.getInt(header), "PE signature");
        return pe.getShort(header + 4) & 0xffff;
    }
}
