package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.function.BooleanSupplier;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.DataLine;
import javax.sound.sampled.Line;
import javax.sound.sampled.LineEvent;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/**
 * Our Java Sound line, found and used only through javax.sound.sampled, on the simulated
 * microphone (the n-th little-endian 32-bit word it records is n).
 */
class JavaSoundLineTest {
    private static final String MIXER = "Voxcap default recording device";
    // One frame is one word of the counting signal.
    private static final AudioFormat COUNTING = new AudioFormat(8000, 32, 1, true, false);
    private static final int FRAME = 4;
    // 8 device buffers of 32 bytes.
    private static final int BUFFER = 256;
    private static final int DEVICE_BUFFER = BUFFER / 8;
    private static final long GENEROUS_MS = 10_000;

    private final ExecutorService readers = Executors.newCachedThreadPool();
    private final List<TargetDataLine> lines = new ArrayList<>();

    @AfterEach
    void cleanUp() {
        for (TargetDataLine line : lines) line.close();
        readers.shutdownNow();
        SimulatedMachine.reset();
        AudioCaptureTest.assertNoDeviceOpen();
    }

    private static Mixer.Info ourMixer() {
        for (Mixer.Info info : AudioSystem.getMixerInfo()) {
            if (info.getName().equals(MIXER)) return info;
        }
        throw new AssertionError("AudioSystem does not list " + MIXER);
    }

    private TargetDataLine line(AudioFormat format) throws LineUnavailableException {
        return kept(AudioSystem.getTargetDataLine(format, ourMixer()));
    }

    /** The line, closed after the test. */
    private TargetDataLine kept(Line line) {
        lines.add((TargetDataLine) line);
        return (TargetDataLine) line;
    }

    private static void await(BooleanSupplier condition, String what) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(GENEROUS_MS);
        while (!condition.getAsBoolean()) {
            if (System.nanoTime() - deadline > 0) throw new AssertionError("timed out waiting until " + what);
            Thread.sleep(1);
        }
    }

    /** Starts a read of len bytes and returns once it is waiting inside the line. */
    private Future<Integer> blockedRead(TargetDataLine line, int len) throws InterruptedException {
        Thread[] reader = new Thread[1];
        Future<Integer> result = readers.submit((Callable<Integer>) () -> {
            reader[0] = Thread.currentThread();
            return line.read(new byte[len], 0, len);
        });
        await(() -> reader[0] != null && reader[0].getState() == Thread.State.WAITING, "the read waits");
        return result;
    }

    /** The first {@code length} bytes the simulated microphone records: its n-th little-endian 32-bit word is n. */
    private static byte[] counting(int length) {
        ByteBuffer signal = ByteBuffer.allocate((length + 3) / 4 * 4).order(ByteOrder.LITTLE_ENDIAN);
        for (int n = 0; signal.hasRemaining(); n++) signal.putInt(n);
        return Arrays.copyOf(signal.array(), length);
    }

    /**
     * Starts an open line (its buffer split into 8 device buffers), has the microphone record
     * {@code deviceBuffers} of them and returns what the line reads, all of it.
     */
    private static byte[] recordedBy(TargetDataLine line, int deviceBuffers) throws Exception {
        int deviceBuffer = line.getBufferSize() / 8;
        line.start();
        for (int i = 0; i < deviceBuffers; i++) assertTrue(SimulatedMachine.completeBuffer());
        await(() -> line.available() == deviceBuffers * deviceBuffer, "the device buffers reach the line");
        byte[] got = new byte[deviceBuffers * deviceBuffer];
        assertEquals(got.length, line.read(got, 0, got.length));
        return got;
    }

    /** Formats compared field by field (AudioFormat has no equals). */
    private static void assertFormat(AudioFormat expected, AudioFormat actual) {
        assertEquals(expected.toString(), actual.toString());
    }

    private static int[] words(byte[] bytes) {
        int[] words = new int[bytes.length / 4];
        ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN).asIntBuffer().get(words);
        return words;
    }

    @Test
    void theMixerIsListedAndGivesOurLine() throws Exception {
        Mixer.Info info = ourMixer();
        Mixer mixer = AudioSystem.getMixer(info);
        assertSame(info, mixer.getMixerInfo());
        assertSame(mixer.getMixerInfo(), AudioSystem.getMixer(info).getMixerInfo());
        assertTrue(mixer.isLineSupported(new DataLine.Info(TargetDataLine.class, new AudioFormat(16000, 16, 1, true, false))));
        assertFalse(mixer.isLineSupported(new DataLine.Info(TargetDataLine.class, new AudioFormat(16000, 16, 1, false, false))));
        assertEquals(0, mixer.getSourceLineInfo().length);

        TargetDataLine line = line(COUNTING);
        assertFalse(line.isOpen());
        line.open(COUNTING, BUFFER);
        assertTrue(line.isOpen());
        assertEquals(BUFFER, line.getBufferSize());
        assertEquals(COUNTING, line.getFormat());
        assertEquals(Collections.singletonList(line), Arrays.asList(mixer.getTargetLines()));
        line.close();
        assertEquals(0, mixer.getTargetLines().length);
    }

    @Test
    void aWavWrittenFromTheLineHoldsTheSignalContinuous() throws Exception {
        TargetDataLine line = line(COUNTING);
        // Two seconds of room, so a writer held up on a busy machine loses nothing.
        line.open(COUNTING, 64000);
        File wav = File.createTempFile("voxcap-line", ".wav");
        try {
            line.start();
            Future<Integer> writer = readers.submit(() ->
                AudioSystem.write(new AudioInputStream(line), AudioFileFormat.Type.WAVE, wav));
            // A second of signal, then stop and close as a "stop" button would.
            await(() -> line.getFramePosition() >= 8000, "a second is recorded");
            line.stop();
            line.close();
            assertTrue(writer.get(GENEROUS_MS, TimeUnit.MILLISECONDS) > 8000 * FRAME);

            try (AudioInputStream in = AudioSystem.getAudioInputStream(wav)) {
                assertTrue(in.getFormat().matches(COUNTING), in.getFormat().toString());
                ByteArrayOutputStream bytes = new ByteArrayOutputStream();
                byte[] chunk = new byte[4096];
                for (int n; (n = in.read(chunk)) > 0; ) bytes.write(chunk, 0, n);
                int[] signal = words(bytes.toByteArray());
                assertTrue(signal.length >= 8000, "frames: " + signal.length);
                for (int i = 1; i < signal.length; i++) {
                    if (signal[i] != signal[i - 1] + 1) throw new AssertionError("gap after word " + signal[i - 1] + " at frame " + i);
                }
            }
        } finally {
            Files.deleteIfExists(wav.toPath());
        }
    }

    @Test
    void listenersHearEveryChangeInOrder() throws Exception {
        TargetDataLine line = line(COUNTING);
        List<LineEvent.Type> heard = Collections.synchronizedList(new ArrayList<>());
        line.addLineListener(event -> {
            assertSame(line, event.getLine());
            heard.add(event.getType());
        });
        line.open(COUNTING, BUFFER);
        line.start();
        line.start();
        line.stop();
        line.start();
        line.close();
        line.close();
        assertEquals(Arrays.asList(LineEvent.Type.OPEN, LineEvent.Type.START, LineEvent.Type.STOP,
            LineEvent.Type.START, LineEvent.Type.STOP, LineEvent.Type.CLOSE), heard);
    }

    @Test
    void stopFlushAndCloseEachReleaseABlockedRead() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        TargetDataLine line = line(COUNTING);
        line.open(COUNTING, BUFFER);
        line.start();

        // Stop: the read returns what had come; the line keeps what it holds.
        assertTrue(SimulatedMachine.completeBuffer());
        await(() -> line.available() == DEVICE_BUFFER, "the device buffer reaches the line");
        Future<Integer> read = blockedRead(line, BUFFER);
        line.stop();
        assertEquals(DEVICE_BUFFER, read.get(GENEROUS_MS, TimeUnit.MILLISECONDS));
        assertFalse(line.isActive());

        // Flush: the read returns, and what the line held is gone.
        line.start();
        read = blockedRead(line, FRAME);
        line.flush();
        assertEquals(0, read.get(GENEROUS_MS, TimeUnit.MILLISECONDS));
        assertEquals(0, line.available());

        // Close from another thread: the read returns, as does every read after it.
        read = blockedRead(line, FRAME);
        line.close();
        assertEquals(0, read.get(GENEROUS_MS, TimeUnit.MILLISECONDS));
        assertEquals(0, line.read(new byte[FRAME], 0, FRAME));
        assertFalse(line.isOpen());
    }

    @Test
    void availableAndPositionsCountWholeFramesReadInOrder() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        TargetDataLine line = line(COUNTING);
        line.open(COUNTING, BUFFER);
        line.start();
        assertTrue(SimulatedMachine.completeBuffer());
        assertTrue(SimulatedMachine.completeBuffer());
        await(() -> line.available() == 2 * DEVICE_BUFFER, "two device buffers reach the line");
        line.stop();

        byte[] got = new byte[3 * DEVICE_BUFFER];
        // Stopped: a read takes what the line holds without waiting for more.
        assertEquals(2 * DEVICE_BUFFER, line.read(got, 0, got.length));
        int[] signal = words(got);
        for (int i = 0; i < 2 * DEVICE_BUFFER / FRAME; i++) assertEquals(i, signal[i]);
        assertEquals(0, line.available());
        assertEquals(2 * DEVICE_BUFFER / FRAME, line.getFramePosition());
        assertEquals(2 * DEVICE_BUFFER / FRAME * 1_000_000L / 8000, line.getMicrosecondPosition());
        line.drain();
    }

    @Test
    void aLineWhoseDeviceFailedStopsAndStartsOnlyOnceTheDeviceIsBack() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        TargetDataLine line = line(COUNTING);
        line.open(COUNTING, BUFFER);
        line.start();
        Future<Integer> read = blockedRead(line, BUFFER);
        // As when the sound server dies: the device returns a buffer and takes nothing back,
        // and it cannot be opened again.
        SimulatedMachine.failNextRequeue(6);
        SimulatedMachine.refuseFormats(true);
        assertTrue(SimulatedMachine.completeBuffer());
        assertEquals(DEVICE_BUFFER, read.get(GENEROUS_MS, TimeUnit.MILLISECONDS), "the buffer recorded before the failure");
        assertFalse(line.isActive());

        line.start();
        assertFalse(line.isActive(), "a line whose device is gone claims to be active");
        Future<Integer> nothingMoreCanCome = readers.submit(() -> line.read(new byte[FRAME], 0, FRAME));
        assertEquals(0, nothingMoreCanCome.get(GENEROUS_MS, TimeUnit.MILLISECONDS));

        SimulatedMachine.refuseFormats(false);
        line.start();
        assertTrue(line.isActive());
        assertTrue(SimulatedMachine.completeBuffer());
        byte[] again = new byte[DEVICE_BUFFER];
        assertEquals(DEVICE_BUFFER, line.read(again, 0, again.length));
        assertEquals(0, words(again)[0], "the device records afresh");
    }

    @Test
    void ofTwoThreadsOpeningAtOnceInDifferentFormatsTheLoserIsRefused() throws Exception {
        // Each open then waits for the device's late notice, so the two overlap.
        SimulatedMachine.delayNotifications(200);
        AudioFormat[] formats = {COUNTING, new AudioFormat(16000, 16, 2, true, false)};
        for (int round = 0; round < 10; round++) {
            TargetDataLine line = line(COUNTING);
            CyclicBarrier together = new CyclicBarrier(formats.length);
            List<Future<AudioFormat>> opens = new ArrayList<>();
            for (AudioFormat format : formats) {
                opens.add(readers.submit(() -> {
                    together.await();
                    line.open(format, BUFFER);
                    return format;
                }));
            }
            List<AudioFormat> opened = new ArrayList<>();
            for (Future<AudioFormat> open : opens) {
                try {
                    opened.add(open.get(GENEROUS_MS, TimeUnit.MILLISECONDS));
                } catch (ExecutionException refused) {
                    assertTrue(refused.getCause() instanceof IllegalStateException, refused.getCause().toString());
                }
            }
            assertEquals(1, opened.size(), "round " + round + ": opened in " + opened);
            assertEquals(opened.get(0), line.getFormat());
            line.close();
        }
    }

    @Test
    void theFirstReadAfterStartHoldsOnlyAudioRecordedAfterStart() throws Exception {
        // Device buffers of a second, recording for a while before the line starts.
        int second = 8000 * FRAME;
        TargetDataLine line = line(COUNTING);
        line.open(COUNTING, 8 * second);
        Thread.sleep(600);
        long start = System.nanoTime();
        line.start();
        byte[] first = new byte[second];
        assertEquals(second, line.read(first, 0, second));
        long tookMs = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
        // A second of audio recorded after start cannot have been read sooner; the margin is the
        // simulated clock's step.
        assertTrue(tookMs >= 980, "a second of audio read " + tookMs + " ms after start");
    }

    @Test
    void onlyWholeFramesAreRead() throws Exception {
        AudioFormat stereo16 = new AudioFormat(8000, 16, 2, true, false);
        TargetDataLine line = line(stereo16);
        assertThrows(IllegalArgumentException.class, () -> line.open(stereo16, 6));
        line.open(stereo16, 64);
        byte[] b = new byte[16];
        assertThrows(IllegalArgumentException.class, () -> line.read(b, 0, 6));
        assertThrows(IllegalArgumentException.class, () -> line.read(b, 0, -4));
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> line.read(b, 4, 16));
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> line.read(b, -4, 4));
        assertEquals(0, line.read(b, 0, 0));
    }

    /**
     * The formats the JDK's own capture lines list, in its order: each the device records, then
     * its twin the line converts to; and in each of them, at 8000 Hz, the line reads sample for
     * sample what the microphone records in the device's format (little-endian, 8-bit unsigned).
     */
    @Test
    void everyListedFormatGivesTheDevicesSamplesExactly() throws Exception {
        List<AudioFormat> listed = PcmSamples.listed(AudioSystem.getMixer(ourMixer()), 8000);
        List<String> expected = new ArrayList<>();
        for (String channels : new String[] {"mono", "stereo"}) {
            expected.add("PCM_UNSIGNED 8-bit " + channels);
            expected.add("PCM_SIGNED 8-bit " + channels);
            for (int bits = 16; bits <= 32; bits += 8) {
                expected.add("PCM_SIGNED " + bits + "-bit " + channels + " little-endian");
                expected.add("PCM_SIGNED " + bits + "-bit " + channels + " big-endian");
            }
        }
        List<String> described = new ArrayList<>();
        for (AudioFormat format : listed) described.add(PcmSamples.describe(format));
        assertEquals(expected, described);

        SimulatedMachine.manualMicrophone(true);
        for (AudioFormat format : listed) {
            TargetDataLine line = line(format);
            line.open(format, 64 * format.getFrameSize());
            byte[] got = recordedBy(line, 3);
            line.close();
            assertArrayEquals(PcmSamples.of(counting(got.length), got.length, PcmSamples.recorded(format)),
                PcmSamples.of(got, got.length, format), PcmSamples.describe(format));
        }
    }

    /**
     * getLine: the info's last fully specified format is the line's format before open, what
     * open() opens in, and again the line's once it is closed; the info's buffer size likewise.
     */
    @Test
    void theLineTakesItsDefaultsFromTheInfo() throws Exception {
        Mixer mixer = AudioSystem.getMixer(ourMixer());
        AudioFormat bigEndian = new AudioFormat(8000, 16, 1, true, true);
        AudioFormat anyRate = new AudioFormat(AudioSystem.NOT_SPECIFIED, 16, 1, true, false);
        TargetDataLine line = kept(mixer.getLine(new DataLine.Info(TargetDataLine.class,
            new AudioFormat[] {COUNTING, bigEndian, anyRate}, AudioSystem.NOT_SPECIFIED, 1025)));
        assertFormat(bigEndian, line.getFormat());
        assertEquals(1024, line.getBufferSize(), "1025 bytes in whole frames");

        SimulatedMachine.manualMicrophone(true);
        line.open();
        assertFormat(bigEndian, line.getFormat());
        assertEquals(1024, line.getBufferSize());
        byte[] got = recordedBy(line, 1);
        assertArrayEquals(PcmSamples.of(counting(got.length), got.length, PcmSamples.recorded(bigEndian)),
            PcmSamples.of(got, got.length, bigEndian));
        line.close();
        assertFormat(bigEndian, line.getFormat());

        // open(format) takes half a second of buffer, whatever the info said.
        line.open(COUNTING);
        assertEquals(8000 * FRAME / 2, line.getBufferSize());
        line.close();
        assertFormat(bigEndian, line.getFormat());

        assertFormat(bigEndian, line(bigEndian).getFormat());
        // With no fully specified format, 44.1 kHz 16-bit stereo little-endian.
        for (Line.Info unspecified : new Line.Info[] {new DataLine.Info(TargetDataLine.class, anyRate),
                new Line.Info(TargetDataLine.class)}) {
            TargetDataLine byDefault = kept(mixer.getLine(unspecified));
            assertFormat(new AudioFormat(44100, 16, 2, true, false), byDefault.getFormat());
            assertEquals(44100 / 2 * 4, byDefault.getBufferSize());
        }
    }

    /**
     * A format with no frame (channels, sample size or frame size of 0 or less, NOT_SPECIFIED
     * among them) or no rate: open refuses it as invalid, the mixer has no line for it.
     */
    @Test
    void aFormatWithNoFrameIsRefusedAsInvalid() throws Exception {
        Mixer mixer = AudioSystem.getMixer(ourMixer());
        TargetDataLine line = line(COUNTING);
        int unspecified = AudioSystem.NOT_SPECIFIED;
        AudioFormat.Encoding signed = AudioFormat.Encoding.PCM_SIGNED;
        for (AudioFormat noFrame : new AudioFormat[] {new AudioFormat(0, 0, 0, true, false),
                new AudioFormat(8000, 16, 0, true, false), new AudioFormat(8000, 0, 1, true, false),
                new AudioFormat(8000, 0, 0, true, false), new AudioFormat(signed, 8000, 16, 2, 0, 8000, false),
                new AudioFormat(signed, 8000, 16, 2, -4, 8000, false),
                new AudioFormat(signed, 8000, 16, 1, unspecified, 8000, false),
                new AudioFormat(signed, 8000, 16, unspecified, unspecified, 8000, false),
                new AudioFormat(signed, 8000, unspecified, 1, unspecified, 8000, false),
                new AudioFormat(0, 16, 1, true, false), new AudioFormat(-8000, 16, 1, true, false)}) {
            assertThrows(IllegalArgumentException.class, () -> line.open(noFrame, BUFFER), noFrame.toString());
            assertThrows(IllegalArgumentException.class, () -> line.open(noFrame), noFrame.toString());
            assertFalse(line.isOpen());
            DataLine.Info info = new DataLine.Info(TargetDataLine.class, noFrame);
            assertFalse(mixer.isLineSupported(info), noFrame.toString());
            assertThrows(IllegalArgumentException.class, () -> mixer.getLine(info), noFrame.toString());
            assertThrows(IllegalArgumentException.class, () -> AudioSystem.getTargetDataLine(noFrame, ourMixer()));
        }
        // The mixer takes NOT_SPECIFIED rates as "any", but a line cannot open without one.
        for (AudioFormat noRate : new AudioFormat[] {new AudioFormat(unspecified, 16, 1, true, false),
                new AudioFormat(signed, 8000, 16, 1, 2, unspecified, false)}) {
            assertTrue(mixer.isLineSupported(new DataLine.Info(TargetDataLine.class, noRate)), noRate.toString());
            assertThrows(IllegalArgumentException.class, () -> line.open(noRate, BUFFER), noRate.toString());
            assertThrows(IllegalArgumentException.class, () -> line.open(noRate), noRate.toString());
        }
        line.open(COUNTING, BUFFER);
        assertTrue(line.isOpen());
    }

    /** In a VM of its own with a small heap: {@link OpenOutOfMemoryChild}. */
    @Test
    void anOpenThatRunsOutOfMemoryLeavesTheLineClosedAndNoDeviceOpen() throws Exception {
        Process child = new ProcessBuilder(System.getProperty("java.home") + "/bin/java", "-Xmx16m",
            "-Djava.library.path=" + System.getProperty("java.library.path"),
            "-cp", System.getProperty("java.class.path"), OpenOutOfMemoryChild.class.getName())
            .redirectErrorStream(true).start();
        String said = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(child.waitFor(GENEROUS_MS, TimeUnit.MILLISECONDS), said);
        assertEquals("OutOfMemoryError open=false devices=0\nreopened open=true devices=1\nclosed devices=0\n", said);
        assertEquals(0, child.exitValue(), said);
    }

    @Test
    void aRefusedFormatIsNamedInLineUnavailable() throws Exception {
        SimulatedMachine.refuseFormats(true);
        TargetDataLine line = line(COUNTING);
        LineUnavailableException refused = assertThrows(LineUnavailableException.class, () -> line.open(COUNTING, BUFFER));
        assertNotNull(refused.getMessage());
        assertTrue(refused.getMessage().contains(COUNTING.toString()), refused.getMessage());
        assertFalse(line.isOpen());

        SimulatedMachine.refuseFormats(false);
        AudioFormat unsigned16 = new AudioFormat(8000, 16, 1, false, false);
        refused = assertThrows(LineUnavailableException.class, () -> line.open(unsigned16, BUFFER));
        assertTrue(refused.getMessage().contains(unsigned16.toString()), refused.getMessage());
        assertThrows(IllegalArgumentException.class,
            () -> line.open(new AudioFormat(AudioSystem.NOT_SPECIFIED, 16, 1, true, false), BUFFER));
    }
}
