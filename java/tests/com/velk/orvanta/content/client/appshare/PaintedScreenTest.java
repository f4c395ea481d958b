package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/**
 * A grab of an X screen whose root window is painted with a known tile (ImageMagick's
 * {@code display -window root}, which repeats it from the top left corner), compared pixel for
 * pixel. Needs no AWT, so it also runs in a headless or emulated JVM. Needs DISPLAY and the real
 * backend (tests/env/devices.sh).
 */
class PaintedScreenTest {
    // Sizes prime to each other and to the screen's, so that a misplaced row or column shows.
    private static final int TILE_WIDTH = 61;
    private static final int TILE_HEIGHT = 37;
    // The screen of tests/env/devices.sh.
    private static final int SCREEN_WIDTH = 1024;
    private static final int SCREEN_HEIGHT = 768;

    private static int tile(int x, int y) {
        int tx = Math.floorMod(x, TILE_WIDTH), ty = Math.floorMod(y, TILE_HEIGHT);
        return (tx * 4) << 16 | (ty * 7) << 8 | (tx * 3 + ty * 5) & 0xFF;
    }

    private static void paintTheRoot() throws Exception {
        ByteArrayOutputStream ppm = new ByteArrayOutputStream();
        ppm.write(("P6 " + TILE_WIDTH + " " + TILE_HEIGHT + " 255\n").getBytes(StandardCharsets.US_ASCII));
        for (int y = 0; y < TILE_HEIGHT; y++)
            for (int x = 0; x < TILE_WIDTH; x++) {
                int rgb = tile(x, y);
                ppm.write(rgb >> 16);
                ppm.write(rgb >> 8 & 0xFF);
                ppm.write(rgb & 0xFF);
            }
        Path file = Files.createTempFile("tile", ".ppm");
        try {
            Files.write(file, ppm.toByteArray());
            // It exits with 1 though it painted; the grab below is the judge.
            new ProcessBuilder("display", "-window", "root", file.toString()).inheritIO().start().waitFor();
        } finally {
            Files.delete(file);
        }
    }

    private static void assertTiled(int x, int y, int width, int height) {
        int[] expected = new int[width * height];
        for (int row = 0; row < height; row++)
            for (int column = 0; column < width; column++) {
                int sx = x + column, sy = y + row;
                boolean onScreen = sx >= 0 && sy >= 0 && sx < SCREEN_WIDTH && sy < SCREEN_HEIGHT;
                expected[row * width + column] = onScreen ? tile(sx, sy) : 0;
            }
        assertArrayEquals(expected, ScreenCapture.grab(x, y, width, height), width + "x" + height + " at " + x + "," + y);
    }

    @Test
    void grabsOfAPaintedRootHoldItsPixelsAndBlackOffTheScreen() throws Exception {
        paintTheRoot();
        assertTiled(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
        assertTiled(100, 57, 1, 1);
        assertTiled(333, 201, 123, 77);
        assertTiled(SCREEN_WIDTH - 40, SCREEN_HEIGHT - 30, 80, 60);
        assertTiled(-20, -10, 64, 48);
    }
}
