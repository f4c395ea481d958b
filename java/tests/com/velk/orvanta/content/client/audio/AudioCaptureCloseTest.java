package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Closing against readers, held buffers and interrupts, on the simulated microphone. */
class AudioCaptureCloseTest {
    private final ExecutorService threads = Executors.newCachedThreadPool();

    @AfterEach
    void stopThreadsAndReleaseDevices() throws InterruptedException {
        SimulatedMachine.reset();
        threads.shutdownNow();
        assertTrue(threads.awaitTermination(5, TimeUnit.SECONDS), "a reader is still blocked");
        AudioCaptureTest.assertNoDeviceOpen();
    }

    @Test
    void aReaderThatFellBehindGetsEveryRecordedBufferInOrder() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        try (AudioCapture mic = AudioCapture.open(8000, 1, 32, 16, 4)) {
            for (int recorded = 0; recorded < 4; recorded++) assertTrue(SimulatedMachine.completeBuffer());
            byte[] buffer = new byte[16];
            for (int word = 0; word < 16; word += 4) {
                assertTrue(mic.read(buffer));
                assertEquals(word, ByteBuffer.wrap(buffer).order(ByteOrder.LITTLE_ENDIAN).getInt(0), "lost or reordered");
            }
        }
    }

    @Test
    void closeWithABlockedReaderOnOneSecondBuffersIsPromptAndReleasesTheDevice() throws Exception {
        for (boolean silent : new boolean[] {false, true}) {
            SimulatedMachine.manualMicrophone(silent);
            // 8000 bytes a second: each buffer takes a second to fill, or never on a silent source.
            AudioCapture mic = AudioCapture.open(8000, 1, 8, 8000, 4);
            Thread reader = startReader(mic);
            ReaderWaits.await(reader);
            long start = System.nanoTime();
            mic.close();
            long closeMs = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
            AudioCaptureTest.assertNoDeviceOpen();
            reader.join(5_000);
            assertFalse(reader.isAlive(), "the read was not released");
            // Waiting for the buffer, or half a second for it, is far above this; a prompt close
            // takes milliseconds.
            assertTrue(closeMs < 250, (silent ? "silent" : "recording") + " source: close took " + closeMs + " ms");
        }
    }

    @Test
    void aSilentSourceLeavesNoThreadBehind() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        Set<Thread> before = Thread.getAllStackTraces().keySet();
        List<AudioCapture> captures = new ArrayList<>();
        List<Thread> readers = new ArrayList<>();
        for (int i = 0; i < 5; i++) {
            AudioCapture mic = AudioCapture.open(8000, 1, 16, 1600, 4);
            captures.add(mic);
            readers.add(startReader(mic));
        }
        for (Thread reader : readers) ReaderWaits.await(reader);
        for (AudioCapture mic : captures) mic.close();
        AudioCaptureTest.assertNoDeviceOpen();
        for (Thread reader : readers) reader.join(5_000);
        List<String> left = new ArrayList<>();
        for (Thread thread : Thread.getAllStackTraces().keySet()) {
            if (!before.contains(thread)) left.add(thread.getName());
        }
        assertEquals(Collections.emptyList(), left, "threads left behind");
    }

    // Reads until the capture ends, in a thread of its own.
    private static Thread startReader(AudioCapture mic) {
        Thread reader = new Thread(() -> {
            byte[] buffer = new byte[mic.bufferSize()];
            try {
                while (mic.read(buffer)) {
                    // Only the end of the capture matters here.
                }
            } catch (CaptureException e) {
                throw new IllegalStateException(e);
            }
        }, "reader");
        reader.start();
        return reader;
    }

    @Test
    void interruptedThreadsNeitherSpinNorLoseTheirFlag() throws Exception {
        ThreadMXBean cpu = ManagementFactory.getThreadMXBean();
        SimulatedMachine.manualMicrophone(true);
        AudioCapture first = AudioCapture.open(8000, 1, 8, 160, 4);
        Thread.currentThread().interrupt();
        first.close();
        assertTrue(Thread.interrupted(), "close cleared the interrupt flag");
        AudioCaptureTest.assertNoDeviceOpen();

        AudioCapture mic = AudioCapture.open(8000, 1, 8, 160, 4);
        AtomicLong readerCpu = new AtomicLong();
        CountDownLatch reading = new CountDownLatch(1);
        Future<Boolean> reader = threads.submit(() -> {
            Thread.currentThread().interrupt();
            long start = cpu.getCurrentThreadCpuTime();
            reading.countDown();
            boolean result = mic.read(new byte[160]);
            readerCpu.set(cpu.getCurrentThreadCpuTime() - start);
            return !result && Thread.currentThread().isInterrupted();
        });
        reading.await();
        Thread.sleep(500);
        mic.close();
        assertTrue(reader.get(5, TimeUnit.SECONDS), "the read did not end the capture with its flag kept");
        // A thread that spins gets a good share of a core even on a loaded machine.
        assertTrue(readerCpu.get() < TimeUnit.MILLISECONDS.toNanos(50),
            "the waiting read spent " + readerCpu.get() / 1_000_000 + " ms of CPU in 500 ms");
    }

    @Test
    void manyCapturesOpenedReadAndClosedFromRacingThreads() throws Exception {
        Random random = new Random(4321);
        List<Future<?>> workers = new ArrayList<>();
        for (int worker = 0; worker < 4; worker++) {
            long seed = random.nextLong();
            workers.add(threads.submit(() -> {
                cycles(new Random(seed), 40);
                return null;
            }));
        }
        for (Future<?> worker : workers) worker.get(120, TimeUnit.SECONDS);
    }

    // Opens a capture, reads it in one thread and closes it from two others at a random moment.
    private void cycles(Random random, int count) throws Exception {
        for (int cycle = 0; cycle < count; cycle++) {
            int bufferSize = 4 * (2 + random.nextInt(64));
            AudioCapture mic = AudioCapture.open(48000, 2, 16, bufferSize, 1 + random.nextInt(4));
            Future<Integer> reader = threads.submit(() -> readInOrder(mic));
            Thread.sleep(random.nextInt(20));
            Future<?> otherCloser = threads.submit(mic::close);
            long start = System.nanoTime();
            mic.close();
            long closeMs = (System.nanoTime() - start) / 1_000_000;
            otherCloser.get(5, TimeUnit.SECONDS);
            reader.get(5, TimeUnit.SECONDS);
            assertTrue(closeMs < 2_000, "close took " + closeMs + " ms");
        }
    }

    // Reads to the end; every buffer holds one stretch of the signal, later than the last one's.
    // (Recording that resumes after the ring was full starts wherever the clock has got to, so a
    // buffer may begin inside a word; the buffer that close cut short ends in zeros.)
    private static int readInOrder(AudioCapture mic) throws CaptureException {
        byte[] buffer = new byte[mic.bufferSize()];
        int buffers = 0;
        long next = 0;
        while (mic.read(buffer)) {
            long start = signalPosition(buffer, next);
            assertTrue(start >= 0, "buffer " + buffers + " is no stretch of the signal from byte " + next + " on: "
                + Arrays.toString(buffer));
            next = start + buffer.length;
            buffers++;
        }
        return buffers;
    }

    // The earliest byte of the signal (the n-th little-endian word holds n), at `from` or later,
    // that the bytes before any trailing zeros can come from; -1 if none. A buffer's first whole
    // word says where it lies, but a buffer with four bytes or fewer before its zeros fits
    // elsewhere too (bytes 0 0 0 255 are word 254's last three and word 255's first, and also the
    // word 0xFF000000), so each place its first word allows is tried.
    private static long signalPosition(byte[] bytes, long from) {
        ByteBuffer words = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
        int recorded = bytes.length;
        while (recorded > 0 && bytes[recorded - 1] == 0) recorded--;
        long earliest = -1;
        for (int skip = 0; skip < 4; skip++) {
            long start = 4 * (words.getInt(skip) & 0xFFFFFFFFL) - skip;
            boolean matches = start >= from;
            for (int i = 0; i < recorded && matches; i++) {
                long position = start + i;
                matches = bytes[i] == (byte) ((position / 4) >>> (8 * (position % 4)));
            }
            if (matches && (earliest < 0 || start < earliest)) earliest = start;
        }
        return earliest;
    }
}
