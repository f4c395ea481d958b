package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.awt.Rectangle;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicBoolean;
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

    // Grabs until every pixel is `rgb`, for at most five seconds; frames follow a change in ms.
    private static boolean eventuallyShows(int rgb) throws Exception {
        int[] pixels = new int[OUTPUT.width * OUTPUT.height];
        int[] expected = new int[pixels.length];
        Arrays.fill(expected, rgb);
        for (long start = System.nanoTime(); System.nanoTime() - start < 5_000_000_000L; Thread.sleep(20)) {
            ScreenCapture.grab(OUTPUT, pixels);
            if (Arrays.equals(pixels, expected)) return true;
        }
        return false;
    }

    @Test
    void grabsTheOutputPixelExactAndFollowsChanges() throws Exception {
        Assumptions.assumeTrue(System.getenv("WAYLAND_DISPLAY") != null, "needs a Wayland desktop");
        assertEquals(null, System.getenv("DISPLAY"), "no X server");
        // The portal backend here may lose a still screen's first frame: painting the same colour
        // again every half second until the grab shows it gives it another.
        // It is stopped by a flag and joined, never interrupted: a repaint under way finishes
        // before the next colour is painted.
        AtomicBoolean shown = new AtomicBoolean();
        Thread repaint = new Thread(() -> {
            try {
                for (int i = 0; i < 20 && !shown.get(); i++) {
                    Thread.sleep(500);
                    if (!shown.get()) showColour(0xff8000);
                }
            } catch (Exception failed) {
                throw new AssertionError(failed);
            }
        });
        repaint.start();
        boolean sawIt = eventuallyShows(0xff8000);
        shown.set(true);
        repaint.join();
        assertTrue(sawIt, "the output's colour");
        for (int rgb : new int[] {0x00ff00, 0x123456}) {
            showColour(rgb);
            assertTrue(eventuallyShows(rgb), String.format("#%06x", rgb));
        }
    }
}
