package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.Test;

/** Against the simulated machine's screen: 1024 x 768, with a known pixel at every point. */
class ScreenCaptureTest {
    private static final int WIDTH = 1024;
    private static final int HEIGHT = 768;

    /** The simulated screen's start picture, top byte included. */
    private static int screenPixel(int x, int y) {
        return (x & 0xFFF) | (y & 0xFFF) << 12 | ((x + y) & 0xFF) << 24;
    }

    private static int[] expected(int x, int y, int width, int height, int mask) {
        int[] pixels = new int[width * height];
        for (int r = 0; r < height; r++) {
            for (int c = 0; c < width; c++) pixels[r * width + c] = screenPixel(x + c, y + r) & mask;
        }
        return pixels;
    }

    @Test
    void theNativeCopiesTheWholeScreenTopByteAndAll() {
        int[] pixels = new int[WIDTH * HEIGHT];
        Deskcap.nGrabPixels(pixels, 0, 0, WIDTH, HEIGHT);
        assertArrayEquals(expected(0, 0, WIDTH, HEIGHT, -1), pixels);
    }

    @Test
    void grabReturnsTheRectangleRowByRowWithTheTopByteCleared() {
        assertArrayEquals(expected(100, 200, 30, 20, 0xFFFFFF), ScreenCapture.grab(100, 200, 30, 20));
        assertArrayEquals(expected(0, 0, WIDTH, HEIGHT, 0xFFFFFF), ScreenCapture.grab(0, 0, WIDTH, HEIGHT));
        assertArrayEquals(expected(WIDTH - 1, HEIGHT - 1, 1, 1, 0xFFFFFF), ScreenCapture.grab(WIDTH - 1, HEIGHT - 1, 1, 1));
    }

    @Test
    void badSizesAreRefused() {
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(0, 0, 0, 10));
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(0, 0, 10, -1));
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(0, 0, 65536, 32768));
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(0, 0, 32768, 16384));
    }

    @Test
    void theNativeLeavesArraysOfTheWrongLengthAloneAndSurvivesNull() {
        int[] pixels = {7, 7, 7};
        Deskcap.nGrabPixels(pixels, 0, 0, 2, 2);
        assertArrayEquals(new int[] {7, 7, 7}, pixels);
        Deskcap.nGrabPixels(null, 0, 0, 2, 2);
        // 65536 * 65536 wraps to 0 in 32 bits: must not pass for an empty picture.
        Deskcap.nGrabPixels(new int[0], 0, 0, 65536, 65536);
    }
}
