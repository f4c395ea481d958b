package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import com.velk.orvanta.content.client.NativeAccessProbe;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Native access on JDK 24 and later, where an application grants it: denied, the first use says
 * which flag to add; granted, on the class path or the module path, no warning is printed. Each
 * case in a fresh JVM of this one's version. Run with the client jar on the class path.
 */
class NativeAccessTest {
    private static final String MODULE = "com.velk.orvanta.content.client";
    private static String jar;
    private static String probes;

    @BeforeAll
    static void needsNativeAccessChecks() throws Exception {
        int feature = Runtime.version().feature();
        Assumptions.assumeTrue(feature >= 24, "JDK " + feature + " has no native access checks");
        jar = new File(NativeLoader.class.getProtectionDomain().getCodeSource().getLocation().toURI()).getPath();
        probes = new File(NativeAccessProbe.class.getProtectionDomain().getCodeSource().getLocation().toURI()).getPath();
    }

    @Test
    void deniedTheFirstUseNamesTheFlagToAdd() throws Exception {
        String classPath = run("--illegal-native-access=deny", "-cp", jar + File.pathSeparator + probes, NativeAccessProbe.class.getName());
        assertTrue(classPath.startsWith("threw java.lang.UnsatisfiedLinkError: "), classPath);
        assertTrue(classPath.contains("--enable-native-access=ALL-UNNAMED"), classPath);

        String modulePath = run("--illegal-native-access=deny", "--module-path", jar, "--add-modules", MODULE,
            "-cp", probes, NativeAccessProbe.class.getName());
        assertTrue(modulePath.startsWith("threw java.lang.UnsatisfiedLinkError: "), modulePath);
        assertTrue(modulePath.contains("--enable-native-access=" + MODULE), modulePath);
    }

    @Test
    void grantedNoWarningIsPrinted() throws Exception {
        assertEquals("grabbed 1 pixel", run("--enable-native-access=ALL-UNNAMED", "-cp", jar + File.pathSeparator + probes,
            NativeAccessProbe.class.getName()));
        assertEquals("grabbed 1 pixel", run("--enable-native-access=" + MODULE, "--module-path", jar, "--add-modules", MODULE,
            "-cp", probes, NativeAccessProbe.class.getName()));
    }

    @Test
    void ungrantedTheJdkWarns() throws Exception {
        // What the README's grant removes: the JDK's own warning, and the load still works today.
        String warned = run("-cp", jar + File.pathSeparator + probes, NativeAccessProbe.class.getName());
        assertTrue(warned.contains("WARNING: java.lang.System::load"), warned);
        assertTrue(warned.endsWith("grabbed 1 pixel"), warned);
        assertFalse(warned.contains("threw"), warned);
    }

    /** Runs a JVM of this version with those arguments; its output, both streams, trimmed. */
    private static String run(String... arguments) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.addAll(Arrays.asList(arguments));
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        ByteArrayOutputStream output = new ByteArrayOutputStream();
        byte[] chunk = new byte[4096];
        try (InputStream in = process.getInputStream()) {
            for (int n; (n = in.read(chunk)) > 0; ) output.write(chunk, 0, n);
        }
        process.waitFor();
        return new String(output.toByteArray(), StandardCharsets.UTF_8).trim();
    }
}
