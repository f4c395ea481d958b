package com.velk.orvanta.content.client.demo;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import com.velk.orvanta.content.client.audio.AudioCapture;
import java.awt.Dimension;
import java.awt.GraphicsEnvironment;
import java.awt.Toolkit;
import java.awt.image.BufferedImage;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import javax.imageio.ImageIO;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/**
 * Records the microphone to a WAV file and the screen to a PNG file.
 * Arguments: [output folder, default out/demo/java] [seconds to record, default 3].
 */
public final class CaptureDemo {
    private static final int SAMPLE_RATE = 16000;
    private static final int BITS = 16;

    private CaptureDemo() {}

    public static void main(String[] args) throws Exception {
        File folder = new File(args.length > 0 ? args[0] : "out/demo/java");
        int seconds = args.length > 1 ? Integer.parseInt(args[1]) : 3;
        if (!folder.isDirectory() && !folder.mkdirs()) throw new IOException("cannot create " + folder);
        record(seconds, new File(folder, "microphone.wav"));
        grabScreen(new File(folder, "screen.png"));
    }

    private static void record(int seconds, File wav) throws Exception {
        ByteArrayOutputStream pcm = new ByteArrayOutputStream();
        // A tenth of a second per buffer, eight of them in the ring.
        try (AudioCapture mic = AudioCapture.open(SAMPLE_RATE, 1, BITS, SAMPLE_RATE * BITS / 8 / 10, 8)) {
            Thread stopper = closeLater(mic, seconds * 1000L);
            byte[] buffer = new byte[mic.bufferSize()];
            while (mic.read(buffer)) {
                pcm.write(buffer);
            }
            stopper.join();
        }
        AudioFormat format = new AudioFormat(SAMPLE_RATE, BITS, 1, true, false);
        byte[] bytes = pcm.toByteArray();
        AudioSystem.write(new AudioInputStream(new ByteArrayInputStream(bytes), format, bytes.length / format.getFrameSize()),
            AudioFileFormat.Type.WAVE, wav);
        System.out.printf("%s: %.1f s of %d Hz mono %d-bit PCM%n", wav, bytes.length / (double) format.getFrameRate() / format.getFrameSize(),
            SAMPLE_RATE, BITS);
    }

    /** Closes the capture from another thread, as a "stop" button would; the blocked read ends. */
    private static Thread closeLater(AudioCapture mic, long millis) {
        Thread stopper = new Thread(() -> {
            try {
                Thread.sleep(millis);
            } catch (InterruptedException stopNow) {
                Thread.currentThread().interrupt();
            }
            mic.close();
        });
        stopper.start();
        return stopper;
    }

    private static void grabScreen(File png) throws IOException {
        // Without a display the size is unknown to Java; the simulated screen is 1024 x 768.
        Dimension size = GraphicsEnvironment.isHeadless() ? new Dimension(1024, 768) : Toolkit.getDefaultToolkit().getScreenSize();
        int[] pixels = ScreenCapture.grab(0, 0, size.width, size.height);
        BufferedImage image = new BufferedImage(size.width, size.height, BufferedImage.TYPE_INT_RGB);
        image.setRGB(0, 0, size.width, size.height, pixels, 0, size.width);
        if (!ImageIO.write(image, "png", png)) throw new IOException("no PNG writer");
        System.out.printf("%s: %d x %d screen picture%n", png, size.width, size.height);
    }
}
