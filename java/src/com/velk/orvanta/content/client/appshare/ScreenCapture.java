package com.velk.orvanta.content.client.appshare;

import java.awt.Rectangle;
import java.awt.image.BufferedImage;
import java.awt.image.DataBufferInt;
import java.awt.image.DirectColorModel;
import java.awt.image.Raster;
import java.lang.ref.WeakReference;

/**
 * Pictures of the screen, for application sharing.
 *
 * <pre>{@code
 * BufferedImage screen = ScreenCapture.grab(new Rectangle(0, 0, 1024, 768));
 * ImageIO.write(screen, "png", file);
 *
 * int[] frame = new int[1024 * 768];                    // a stream of frames reuses one array
 * for (;;) send(ScreenCapture.grab(new Rectangle(0, 0, 1024, 768), frame));
 * }</pre>
 *
 * <p>Images are {@link BufferedImage#TYPE_INT_RGB}, built as {@code java.awt.Robot} builds its
 * screen captures, over the grabbed array itself: no pixel is copied after the grab, and a stream
 * of frames into one array allocates nothing per frame.
 */
public final class ScreenCapture {
    /**
     * The colour model of a screen capture: 0x00RRGGBB in one int. Made with the first image, so
     * that grabbing into an int[] needs no AWT: a JDK 11 headless runtime, without
     * java.awt.headless set, cannot load it.
     */
    private static final class Rgb {
        static final DirectColorModel MODEL = new DirectColorModel(24, 0xFF0000, 0xFF00, 0xFF);
        static final int[] MASKS = {MODEL.getRedMask(), MODEL.getGreenMask(), MODEL.getBlueMask()};
    }

    // The image each thread last made over a caller's array, handed out again for the next frame
    // into that array. Weak, so an image and array the caller dropped can go.
    private static final ThreadLocal<WeakReference<BufferedImage>> LAST_FRAME = new ThreadLocal<>();

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
        int[] pixels = new int[pixelCount(width, height)];
        grabInto(pixels, x, y, width, height);
        return pixels;
    }

    /**
     * Copies a rectangle of the screen into a new image, as {@code Robot.createScreenCapture}
     * does.
     *
     * @param area the rectangle in screen coordinates; width and height above 0
     * @return an image of {@code TYPE_INT_RGB} over a fresh array of the pixels
     * @throws IllegalArgumentException as {@link #grab(int, int, int, int)}
     */
    public static BufferedImage grab(Rectangle area) {
        int[] pixels = new int[pixelCount(area.width, area.height)];
        grabInto(pixels, area.x, area.y, area.width, area.height);
        return imageOver(pixels, area.width, area.height);
    }

    /**
     * Copies a rectangle of the screen into {@code into} and returns an image over that array,
     * so that a stream of frames allocates nothing. The image shares the array: the next grab
     * into it changes the image too, and on the same thread with the same size returns that
     * same image.
     *
     * @param area the rectangle in screen coordinates; width and height above 0
     * @param into exactly {@code area.width * area.height} ints
     * @return an image of {@code TYPE_INT_RGB} whose pixels are {@code into}, rows from the top
     * @throws IllegalArgumentException as {@link #grab(int, int, int, int)}, or if into has
     *     another length
     */
    public static BufferedImage grab(Rectangle area, int[] into) {
        int count = pixelCount(area.width, area.height);
        if (into.length != count) {
            throw new IllegalArgumentException("array of " + into.length + " ints for " + area.width + " x "
                + area.height + " pixels");
        }
        grabInto(into, area.x, area.y, area.width, area.height);
        WeakReference<BufferedImage> last = LAST_FRAME.get();
        BufferedImage image = last == null ? null : last.get();
        if (image == null || image.getWidth() != area.width || image.getHeight() != area.height
            || ((DataBufferInt) image.getRaster().getDataBuffer()).getData() != into) {
            image = imageOver(into, area.width, area.height);
            LAST_FRAME.set(new WeakReference<>(image));
        }
        return image;
    }

    private static BufferedImage imageOver(int[] pixels, int width, int height) {
        return new BufferedImage(Rgb.MODEL, Raster.createPackedRaster(new DataBufferInt(pixels, pixels.length), width,
            height, width, Rgb.MASKS, null), false, null);
    }

    private static void grabInto(int[] pixels, int x, int y, int width, int height) {
        Deskcap.nGrabPixels(pixels, x, y, width, height);
        // The platform leaves the top byte undefined (0x00 or 0xFF depending on the machine).
        for (int i = 0; i < pixels.length; i++) {
            pixels[i] &= 0xFFFFFF;
        }
    }

    private static int pixelCount(int width, int height) {
        if (width <= 0 || height <= 0) {
            throw new IllegalArgumentException("size must be positive: " + width + " x " + height);
        }
        try {
            // The library also needs four bytes per pixel to fit in 32 bits.
            Math.multiplyExact(Math.multiplyExact(width, height), 4);
            return width * height;
        } catch (ArithmeticException tooBig) {
            throw new IllegalArgumentException("picture too large: " + width + " x " + height, tooBig);
        }
    }
}
