package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import com.velk.orvanta.content.client.audio.AudioCapture;
import java.io.File;
import java.util.Collections;
import org.junit.jupiter.api.Test;

/** Run with the libraries on java.library.path: they are loaded from there, nothing is copied. */
class LibraryPathLoadingTest {
    @Test
    void librariesComeFromTheLibraryPath() throws Exception {
        assertFalse(MappedLibraries.onLibraryPath("libVoxcap.so").isEmpty(), "test setup: libVoxcap.so on java.library.path");
        AudioCapture.open(8000, 1, 8, 8, 1).close();
        ScreenCapture.grab(0, 0, 1, 1);

        File dir = MappedLibraries.onLibraryPath("libVoxcap.so").get(0).getCanonicalFile();
        for (String library : new String[] {"libVoxcap.so", "libDeskcap.so", "libwinhost-dummy.so"}) {
            assertEquals(Collections.singletonList(new File(dir, library)), MappedLibraries.named(library), library);
        }
        assertNull(NativeLoader.extractedTo());
    }
}
