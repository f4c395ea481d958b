package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import com.velk.orvanta.content.client.audio.AudioCapture;
import java.io.File;
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

        short[] samples = new short[16000];
        try (AudioCapture mic = AudioCapture.open(8000, 1, 16, 1600, 8)) {
            byte[] buffer = new byte[1600];
            for (int n = 0; n < samples.length; ) {
                assertTrue(mic.read(buffer));
                for (int i = 0; i < buffer.length; i += 2) samples[n++] = (short) (buffer[i] & 0xff | buffer[i + 1] << 8);
            }
        }
        int peak = 0;
        // The first second may show the backlog settling.
        for (int n = 8000; n < samples.length; n++) {
            assertTrue(Math.abs(samples[n] - samples[n - 7]) <= 400, "the tone breaks at sample " + n);
            peak = Math.max(peak, Math.abs(samples[n]));
        }
        assertTrue(peak > 12000, "no tone: peak " + peak);
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
}
