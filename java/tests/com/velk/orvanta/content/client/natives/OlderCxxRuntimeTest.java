package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import com.velk.orvanta.content.client.audio.AudioCapture;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Run on a system whose C++ runtime is older than the one the natives are built with: the JVM has
 * it mapped before ours load, and our libraries, which carry their own, work beside it.
 */
class OlderCxxRuntimeTest {
    /** The newest runtime interface of the compiler the natives are built with. */
    private static final String OUR_RUNTIME = "GLIBCXX_3.4.30";

    @Test
    void ourLibrariesWorkBesideAnOlderCxxRuntimeInTheSameProcess() throws Exception {
        List<File> runtimes = MappedLibraries.matching("/libstdc\\+\\+\\.so\\.6[.0-9]*$");
        assertEquals(1, runtimes.size(), "the JVM maps one C++ runtime: " + runtimes);
        String runtime = new String(Files.readAllBytes(runtimes.get(0).toPath()), StandardCharsets.ISO_8859_1);
        assertFalse(runtime.contains(OUR_RUNTIME), "test setup: the process's C++ runtime is as new as ours");

        try (AudioCapture mic = AudioCapture.open(8000, 1, 16, 1600, 4)) {
            assertEquals(true, mic.read(new byte[1600]));
        }
        assertEquals(4, ScreenCapture.grab(0, 0, 2, 2).length);
        assertEquals(runtimes, MappedLibraries.matching("/libstdc\\+\\+\\.so"), "our libraries brought a C++ runtime of their own");
    }
}
