package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.awt.Rectangle;
import java.awt.image.BufferedImage;
import java.awt.image.DataBufferInt;
import org.junit.jupiter.api.Test;

/** Screen grabs as images, against the simulated machine's 1024 x 768 start screen. */
class ScreenImageTest {
    @Test
    void anImageIsAnRgbPictureOverTheGrabbedArray() {
        Rectangle area = new Rectangle(100, 200, 30, 20);
        int[] into = new int[30 * 20];
        BufferedImage image = ScreenCapture.grab(area, into);
        assertEquals(BufferedImage.TYPE_INT_RGB, image.getType());
        assertEquals(30, image.getWidth());
        assertEquals(20, image.getHeight());
        assertSame(into, ((DataBufferInt) image.getRaster().getDataBuffer()).getData());
        assertArrayEquals(ScreenCapture.grab(100, 200, 30, 20), into);
        for (int y = 0; y < 20; y++) {
            for (int x = 0; x < 30; x++) assertEquals(0xFF000000 | into[y * 30 + x], image.getRGB(x, y));
        }

        // The next grab into the same array is the next frame of the same image.
        into[0] = 0x123456;
        assertSame(into, ((DataBufferInt) ScreenCapture.grab(area, into).getRaster().getDataBuffer()).getData());
        assertEquals(ScreenCapture.grab(100, 200, 1, 1)[0], into[0]);
    }

    @Test
    void aNewImageHoldsTheRectangle() {
        BufferedImage image = ScreenCapture.grab(new Rectangle(0, 0, 1024, 768));
        int[] expected = ScreenCapture.grab(0, 0, 1024, 768);
        assertArrayEquals(expected, ((DataBufferInt) image.getRaster().getDataBuffer()).getData());
        assertEquals(0xFF000000 | expected[767 * 1024 + 1023], image.getRGB(1023, 767));
    }

    @Test
    void badSizesAndArraysAreRefusedBeforeTheScreenIsRead() {
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(new Rectangle(0, 0, 0, 10)));
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(new Rectangle(0, 0, 65536, 32768)));
        int[] wrong = {7, 7, 7};
        assertThrows(IllegalArgumentException.class, () -> ScreenCapture.grab(new Rectangle(0, 0, 2, 2), wrong));
        assertArrayEquals(new int[] {7, 7, 7}, wrong);
    }
}
