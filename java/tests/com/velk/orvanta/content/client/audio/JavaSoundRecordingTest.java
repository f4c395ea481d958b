package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.velk.orvanta.content.client.TestTone;
import java.io.File;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;
import org.junit.jupiter.api.Test;

/**
 * Our Java Sound line on the real Linux backend, run from the client jar in tests/env/devices.sh
 * --tone 7, found and used only through javax.sound.sampled.
 */
class JavaSoundRecordingTest {
    private static final AudioFormat FORMAT = new AudioFormat(TestTone.RATE, 16, 1, true, false);
    // In the first moments the source's stream is still starting (PipeWire's resampler rises
    // into the tone); the WAV is written once that has settled.
    private static final long SETTLING_MS = 1500;
    private static final int SECONDS = 3;
    // Far beyond the few seconds this takes, even on a loaded machine.
    private static final long GENEROUS_MS = 30_000;

    static Mixer.Info ourMixer() {
        for (Mixer.Info info : AudioSystem.getMixerInfo()) {
            if (info.getName().equals("Voxcap default recording device")) return info;
        }
        throw new AssertionError("AudioSystem does not list our mixer");
    }

    @Test
    void aWavWrittenFromTheLineHoldsTheToneContinuous() throws Exception {
        TargetDataLine line = AudioSystem.getTargetDataLine(FORMAT, ourMixer());
        File wav = File.createTempFile("voxcap-real-line", ".wav");
        ExecutorService writers = Executors.newSingleThreadExecutor();
        try {
            // Two seconds of room, so a writer held up on a busy machine loses nothing.
            line.open(FORMAT, 2 * TestTone.RATE * 2);
            line.start();
            byte[] backlog = new byte[1600];
            for (long settled = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(SETTLING_MS); System.nanoTime() < settled; ) {
                assertTrue(line.read(backlog, 0, backlog.length) > 0, "the line gave nothing");
            }
            long from = line.getLongFramePosition();
            Future<Integer> writer = writers.submit(() ->
                AudioSystem.write(new AudioInputStream(line), AudioFileFormat.Type.WAVE, wav));
            long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(GENEROUS_MS);
            while (line.getLongFramePosition() - from < SECONDS * TestTone.RATE) {
                assertTrue(System.nanoTime() < deadline, "timed out waiting for " + SECONDS + " s of audio");
                Thread.sleep(10);
            }
            line.stop();
            line.close();
            writer.get(GENEROUS_MS, TimeUnit.MILLISECONDS);

            try (AudioInputStream in = AudioSystem.getAudioInputStream(wav)) {
                assertTrue(in.getFormat().matches(FORMAT), in.getFormat().toString());
                byte[] bytes = in.readAllBytes();
                short[] samples = TestTone.samples(bytes, bytes.length);
                assertTrue(samples.length >= SECONDS * TestTone.RATE, "samples: " + samples.length);
                TestTone.assertContinuous(samples, 0);
            }
        } finally {
            line.close();
            writers.shutdownNow();
            Files.deleteIfExists(wav.toPath());
        }
    }

    /**
     * Every format the line lists, at 8000 Hz, all recording the tone at once: the device's own
     * (little-endian, 8-bit unsigned) hold the tone, each period the same sample for sample, and
     * each twin the line converts to (big-endian, 8-bit signed) holds exactly the same samples,
     * from wherever in the period it began. PulseAudio only widens, narrows or copies the tone's
     * samples to give each format, the same way every time, so the equality is exact.
     */
    @Test
    void everyListedFormatRecordsTheToneSampleForSampleAsTheDeviceDoes() throws Exception {
        List<AudioFormat> formats = PcmSamples.listed(AudioSystem.getMixer(ourMixer()), TestTone.RATE);
        List<TargetDataLine> lines = new ArrayList<>();
        Map<String, int[]> recorded = new HashMap<>();
        try {
            for (AudioFormat format : formats) {
                TargetDataLine line = AudioSystem.getTargetDataLine(format, ourMixer());
                lines.add(line);
                // Four seconds of room, so none loses anything while the others are read.
                line.open(format, 4 * TestTone.RATE * format.getFrameSize());
            }
            for (TargetDataLine line : lines) line.start();
            Thread.sleep(SETTLING_MS);
            for (TargetDataLine line : lines) line.flush();
            for (TargetDataLine line : lines) {
                AudioFormat format = line.getFormat();
                byte[] bytes = new byte[TestTone.RATE / 2 * format.getFrameSize()];
                assertEquals(bytes.length, line.read(bytes, 0, bytes.length), PcmSamples.describe(format));
                recorded.put(PcmSamples.describe(format), PcmSamples.of(bytes, bytes.length, format));
            }
        } finally {
            for (TargetDataLine line : lines) line.close();
        }
        for (AudioFormat format : formats) {
            String name = PcmSamples.describe(format);
            int[] own = recorded.get(PcmSamples.describe(PcmSamples.recorded(format)));
            int period = TestTone.PERIOD * format.getChannels();
            int[] cycle = Arrays.copyOf(own, period);
            int peak = 0;
            for (int n = 0; n < own.length; n++) {
                assertEquals(cycle[n % period], own[n], name + "'s twin as the device records it, at sample " + n);
                peak = Math.max(peak, Math.abs(own[n]));
            }
            long fullScale = 1L << (format.getSampleSizeInBits() - 1);
            assertTrue(peak * 32768L / fullScale > 12000, name + ": no tone, peak " + peak + " of " + fullScale);

            int[] samples = recorded.get(name);
            int furthest = 0;
            for (int phase = 0; phase < period && furthest < samples.length; phase += format.getChannels()) {
                int n = 0;
                while (n < samples.length && samples[n] == cycle[(n + phase) % period]) n++;
                furthest = Math.max(furthest, n);
            }
            assertEquals(samples.length, furthest, name + " leaves the tone " + Arrays.toString(cycle)
                + " at sample " + furthest + ", from any phase");
        }
    }
}
