package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.velk.orvanta.content.client.TestTone;
import com.velk.orvanta.content.client.appshare.ScreenCapture;
import com.velk.orvanta.content.client.audio.AudioCapture;
import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.util.Collections;
import org.junit.jupiter.api.Test;

/**
 * Run from the client jar with java.library.path pointing elsewhere, in tests/env/devices.sh: the
 * jar's copies of the real backend load and record the environment's tone (a sine whose period is
 * 7 samples at 8000 Hz).
 */
class JarLoadingTest {
    @Test
    void librariesAreCopiedOutOfTheJarAndRecordTheRealMicrophone() throws Exception {
        assertTrue(MappedLibraries.onLibraryPath("libVoxcap.so").isEmpty(), "test setup: java.library.path must not hold the libraries");

        byte[] recorded = new byte[32000];
        // The ring holds the whole recording, so a reader held up (an emulated JVM, a busy
        // machine) loses nothing.
        try (AudioCapture mic = AudioCapture.open(TestTone.RATE, 1, 16, 1600, 24)) {
            byte[] buffer = new byte[1600];
            for (int n = 0; n < recorded.length; n += buffer.length) {
                assertTrue(mic.read(buffer));
                System.arraycopy(buffer, 0, recorded, n, buffer.length);
            }
        }
        // The first second may show the backlog settling.
        TestTone.assertContinuous(TestTone.samples(recorded, recorded.length), TestTone.RATE);
        assertEquals(4, ScreenCapture.grab(0, 0, 2, 2).length);

        File dir = NativeLoader.extractedTo();
        assertNotNull(dir);
        for (String library : new String[] {"libVoxcap.so", "libDeskcap.so", "libwinhost-linux.so"}) {
            // One copy of each, the backend among them shared by both libraries.
            assertEquals(Collections.singletonList(new File(dir, library).getCanonicalFile()),
                MappedLibraries.named(library), library);
        }
        assertTrue(MappedLibraries.named("libwinhost-dummy.so").isEmpty(), "the simulated machine was loaded");
    }

    @Test
    void theLibrariesLoadedAreBuiltForThisProcessor() throws Exception {
        // ELF e_machine: 62 is x86-64, 183 is AArch64.
        String arch = System.getProperty("os.arch");
        int machine = arch.equals("amd64") || arch.equals("x86_64") ? 62 : arch.equals("aarch64") ? 183 : -1;
        AudioCapture.open(TestTone.RATE, 1, 16, 1600, 2).close();
        ScreenCapture.grab(0, 0, 1, 1);
        for (String library : new String[] {"libVoxcap.so", "libDeskcap.so", "libwinhost-linux.so"}) {
            ByteBuffer header = ByteBuffer.wrap(Files.readAllBytes(MappedLibraries.named(library).get(0).toPath()))
                .order(ByteOrder.LITTLE_ENDIAN);
            assertEquals(machine, header.getShort(18), library + " on " + arch);
        }
    }
}
