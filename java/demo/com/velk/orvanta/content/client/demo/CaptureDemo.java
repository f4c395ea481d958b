package com.velk.orvanta.content.client.demo;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import java.awt.Dimension;
import java.awt.GraphicsEnvironment;
import java.awt.Rectangle;
import java.awt.Toolkit;
import java.awt.image.BufferedImage;
import java.io.File;
import java.io.IOException;
import javax.imageio.ImageIO;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

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

    /** Records through Java Sound only: our mixer, its line, and AudioSystem.write. */
    private static void record(int seconds, File wav) throws Exception {
        AudioFormat format = new AudioFormat(SAMPLE_RATE, BITS, 1, true, false);
        TargetDataLine line = AudioSystem.getTargetDataLine(format, mixer("Voxcap default recording device"));
        // A tenth of a second per device buffer.
        line.open(format, SAMPLE_RATE * BITS / 8 / 10 * 8);
        line.start();
        Thread stopper = stopLater(line, seconds * 1000L);
        int bytes = AudioSystem.write(new AudioInputStream(line), AudioFileFormat.Type.WAVE, wav);
        stopper.join();
        System.out.printf("%s: %.1f s of %d Hz mono %d-bit PCM%n", wav, bytes / (double) format.getFrameRate() / format.getFrameSize(),
            SAMPLE_RATE, BITS);
    }

    private static Mixer.Info mixer(String name) {
        for (Mixer.Info info : AudioSystem.getMixerInfo()) {
            if (info.getName().equals(name)) return info;
        }
        throw new IllegalStateException("no mixer named " + name);
    }

    /** Stops and closes the line from another thread, as a "stop" button would; the WAV then ends. */
    private static Thread stopLater(TargetDataLine line, long millis) {
        Thread stopper = new Thread(() -> {
            try {
                Thread.sleep(millis);
            } catch (InterruptedException stopNow) {
                Thread.currentThread().interrupt();
            }
            line.stop();
            line.close();
        });
        stopper.start();
        return stopper;
    }

    private static void grabScreen(File png) throws IOException {
        // Without a display the size is unknown to Java; the simulated screen is 1024 x 768.
        Dimension size = GraphicsEnvironment.isHeadless() ? new Dimension(1024, 768) : Toolkit.getDefaultToolkit().getScreenSize();
        BufferedImage image = ScreenCapture.grab(new Rectangle(0, 0, size.width, size.height));
        if (!ImageIO.write(image, "png", png)) throw new IOException("no PNG writer");
        System.out.printf("%s: %d x %d screen picture%n", png, size.width, size.height);
    }
}
