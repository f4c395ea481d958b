package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.awt.Rectangle;
import java.awt.image.BufferedImage;
import java.awt.image.DataBufferInt;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import jdk.jfr.Recording;
import jdk.jfr.consumer.RecordedEvent;
import jdk.jfr.consumer.RecordingFile;
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
    void aStreamOfFramesIntoOneArrayAllocatesNothing() throws IOException {
        Rectangle area = new Rectangle(10, 20, 64, 48);
        int[] into = new int[64 * 48];
        BufferedImage frame = ScreenCapture.grab(area, into);
        for (int i = 0; i < 1000; i++) assertSame(frame, ScreenCapture.grab(area, into));
        // Two runs of different lengths, so that what the recording itself costs cancels out;
        // an image per frame would be hundreds of bytes a call.
        long few = allocatedDuring(() -> grabFrames(area, into, 100));
        long many = allocatedDuring(() -> grabFrames(area, into, 10_100));
        assertTrue(many - few < 10_000 * 8, (many - few) + " bytes in 10000 more frames");

        // Another shape of the same array, or another array, is another image.
        BufferedImage tall = ScreenCapture.grab(new Rectangle(10, 20, 48, 64), into);
        assertEquals(48, tall.getWidth());
        assertNotSame(tall, ScreenCapture.grab(new Rectangle(10, 20, 48, 64), new int[48 * 64]));
    }

    private static void grabFrames(Rectangle area, int[] into, int frames) {
        for (int i = 0; i < frames; i++) ScreenCapture.grab(area, into);
    }

    // What this thread allocated while the work ran, by JFR's per-thread allocation counter.
    private static long allocatedDuring(Runnable work) throws IOException {
        Path file = Files.createTempFile("frames", ".jfr");
        try (Recording recording = new Recording()) {
            recording.enable("jdk.ThreadAllocationStatistics").with("period", "everyChunk");
            recording.start();
            work.run();
            recording.stop();
            recording.dump(file);
            List<Long> counts = new ArrayList<>();
            for (RecordedEvent event : RecordingFile.readAllEvents(file)) {
                if (event.getThread("thread").getJavaThreadId() == Thread.currentThread().getId()) {
                    counts.add(event.getLong("allocated"));
                }
            }
            assertEquals(2, counts.size(), "a count as the recording starts and one as it ends");
            return counts.get(1) - counts.get(0);
        } finally {
            Files.delete(file);
        }
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
