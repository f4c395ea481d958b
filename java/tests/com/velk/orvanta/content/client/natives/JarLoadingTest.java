package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import com.velk.orvanta.content.client.audio.AudioCapture;
import java.io.File;
import java.util.Collections;
import org.junit.jupiter.api.Test;

/** Run from the client jar with java.library.path pointing elsewhere: the jar's copies load. */
class JarLoadingTest {
    @Test
    void librariesAreCopiedOutOfTheJarAndWork() throws Exception {
        assertTrue(MappedLibraries.onLibraryPath("libVoxcap.so").isEmpty(), "test setup: java.library.path must not hold the libraries");

        try (AudioCapture mic = AudioCapture.open(8000, 1, 32, 16, 2)) {
            byte[] first = new byte[16];
            assertTrue(mic.read(first));
            assertArrayEquals(new byte[] {0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}, first);
        }
        assertArrayEquals(new int[] {0, 1, 1 << 12, 1 | 1 << 12}, ScreenCapture.grab(0, 0, 2, 2));

        File dir = NativeLoader.extractedTo();
        assertNotNull(dir);
        for (String library : new String[] {"libVoxcap.so", "libDeskcap.so", "libwinhost-dummy.so"}) {
            // One copy of each, the simulated machine among them shared by both libraries.
            assertEquals(Collections.singletonList(new File(dir, library).getCanonicalFile()),
                MappedLibraries.named(library), library);
        }
    }
}
