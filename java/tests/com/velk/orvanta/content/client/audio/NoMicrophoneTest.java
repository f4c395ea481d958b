package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import org.junit.jupiter.api.Test;

/**
 * On a machine with a screen and no sound server (tests/env/devices.sh --no-sound): opening the
 * microphone fails with an exception, every time, and the screen still works.
 */
class NoMicrophoneTest {
    @Test
    void openingFailsCleanlyAndTheScreenStillWorks() {
        for (int i = 0; i < 3; i++)
            assertThrows(CaptureException.class, () -> AudioCapture.open(8000, 1, 16, 1600, 4));
        assertEquals(4, ScreenCapture.grab(0, 0, 2, 2).length);
    }
}
