package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.awt.Rectangle;
import java.util.Arrays;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Test;

/**
 * ScreenCapture on a Wayland desktop with no X server, through the public API only: the whole
 * 1280 x 720 output, pixel-exact, and a change seen by the next grabs. Needs the desktop of
 * tests/env/devices.sh --wayland '#ff8000' (java/run-screen-test.sh --wayland).
 */
class WaylandScreenTest {
    private static final Rectangle OUTPUT = new Rectangle(0, 0, 1280, 720);

    private static void sway(String... command) throws Exception {
        String[] line = new String[command.length + 1];
        line[0] = "swaymsg";
        System.arraycopy(command, 0, line, 1, command.length);
        assertEquals(0, new ProcessBuilder(line).redirectErrorStream(true).start().waitFor());
    }

    private static void showColour(int rgb) throws Exception {
        sway("output", "HEADLESS-1", "bg", String.format("#%06x", rgb), "solid_color");
    }

    // Grabs until every pixel is `rgb`, for at most that long.
    private static boolean shows(int rgb, long millis) throws Exception {
        int[] pixels = new int[OUTPUT.width * OUTPUT.height];
        int[] expected = new int[pixels.length];
        Arrays.fill(expected, rgb);
        for (long start = System.nanoTime(); System.nanoTime() - start < millis * 1_000_000L; Thread.sleep(20)) {
            ScreenCapture.grab(OUTPUT, pixels);
            if (Arrays.equals(pixels, expected)) return true;
        }
        return false;
    }

    // Paints the colour until the grab shows it. The portal backend here may lose a still
    // screen's frame, and swaybg, which each paint restarts, can take seconds to show on a busy
    // machine: each paint waits twice as long as the one before, 15 s in all.
    private static boolean paintedAndShown(int rgb) throws Exception {
        for (long wait = 1000; wait <= 8000; wait *= 2) {
            showColour(rgb);
            if (shows(rgb, wait)) return true;
        }
        return false;
    }

    @Test
    void grabsTheOutputPixelExactAndFollowsChanges() throws Exception {
        Assumptions.assumeTrue(System.getenv("WAYLAND_DISPLAY") != null, "needs a Wayland desktop");
        assertEquals(null, System.getenv("DISPLAY"), "no X server");
        for (int rgb : new int[] {0xff8000, 0x00ff00, 0x123456}) {
            assertTrue(paintedAndShown(rgb), String.format("#%06x", rgb));
        }
    }
}
