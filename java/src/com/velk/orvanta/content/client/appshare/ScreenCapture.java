package com.velk.orvanta.content.client.appshare;

/**
 * Pictures of the screen, for application sharing.
 *
 * <pre>{@code
 * int[] pixels = ScreenCapture.grab(0, 0, 1024, 768);
 * BufferedImage image = new BufferedImage(1024, 768, BufferedImage.TYPE_INT_RGB);
 * image.setRGB(0, 0, 1024, 768, pixels, 0, 1024);
 * }</pre>
 */
public final class ScreenCapture {
    private ScreenCapture() {}

    /**
     * Copies a rectangle of the screen. Safe to call from several threads at once.
     *
     * @param x screen column of the left edge (negative on a monitor left of the primary one)
     * @param y screen row of the top edge
     * @param width columns, above 0
     * @param height rows, above 0
     * @return width × height pixels, row by row from the top; each is {@code 0x00RRGGBB}. Parts of
     *     the rectangle that lie off the screen hold whatever the platform leaves there, and a
     *     screen that cannot be read gives zeros.
     * @throws IllegalArgumentException if width or height is not positive, or the picture would
     *     not fit in an array
     */
    public static int[] grab(int x, int y, int width, int height) {
        if (width <= 0 || height <= 0) {
            throw new IllegalArgumentException("size must be positive: " + width + " x " + height);
        }
        int[] pixels = new int[pixelCount(width, height)];
        Deskcap.nGrabPixels(pixels, x, y, width, height);
        // The platform leaves the top byte undefined (0x00 or 0xFF depending on the machine).
        for (int i = 0; i < pixels.length; i++) {
            pixels[i] &= 0xFFFFFF;
        }
        return pixels;
    }

    private static int pixelCount(int width, int height) {
        try {
            // The library also needs four bytes per pixel to fit in 32 bits.
            Math.multiplyExact(Math.multiplyExact(width, height), 4);
            return width * height;
        } catch (ArithmeticException tooBig) {
            throw new IllegalArgumentException("picture too large: " + width + " x " + height, tooBig);
        }
    }
}
