package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
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
        AudioCaptureTest.awaitDevicesReleased();
    }

    @Test
    void aReaderThatFellBehindGetsEveryBufferTakenFromTheDeviceInOrder() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        try (AudioCapture mic = AudioCapture.open(8000, 1, 32, 16, 4)) {
            // The device's ring of four and the two buffers the capture holds.
            for (int recorded = 0; recorded < 6; recorded++) {
                long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(5);
                while (!SimulatedMachine.completeBuffer()) {
                    assertTrue(System.nanoTime() < deadline, "buffer " + recorded + " was never queued again");
                    Thread.sleep(5);
                }
            }
            Thread.sleep(100);
            assertFalse(SimulatedMachine.completeBuffer(), "the capture took more buffers than it can hold");
            byte[] buffer = new byte[16];
            for (int word = 0; word < 24; word += 4) {
                assertTrue(mic.read(buffer));
                assertEquals(word, ByteBuffer.wrap(buffer).order(ByteOrder.LITTLE_ENDIAN).getInt(0), "lost or reordered");
            }
        }
    }

    @Test
    void interruptedThreadsNeitherSpinNorLoseTheirFlag() throws Exception {
        ThreadMXBean cpu = ManagementFactory.getThreadMXBean();
        SimulatedMachine.manualMicrophone(true);
        // No buffer ever comes back, so every close waits out its whole bound.
        long closeCpu = 0;
        long closeWall = 0;
        for (int i = 0; i < 3; i++) {
            AudioCapture mic = AudioCapture.open(8000, 1, 8, 160, 4);
            // Time for the capture's thread to start its wait for the device.
            Thread.sleep(200);
            Thread.currentThread().interrupt();
            long cpuStart = cpu.getCurrentThreadCpuTime();
            long wallStart = System.nanoTime();
            mic.close();
            closeWall += System.nanoTime() - wallStart;
            closeCpu += cpu.getCurrentThreadCpuTime() - cpuStart;
            assertTrue(Thread.interrupted(), "close cleared the interrupt flag");
        }
        // A thread that spins gets a good share of a core even on a loaded machine.
        assertTrue(closeCpu < closeWall / 10 + TimeUnit.MILLISECONDS.toNanos(20), "close spent " + closeCpu / 1_000_000 + " ms of CPU in "
            + closeWall / 1_000_000 + " ms");

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
    // buffer may begin inside a word.)
    private static int readInOrder(AudioCapture mic) throws CaptureException {
        byte[] buffer = new byte[mic.bufferSize()];
        int buffers = 0;
        long next = 0;
        while (mic.read(buffer)) {
            long start = signalPosition(buffer);
            assertTrue(start >= next, "buffer " + buffers + " starts at byte " + start + " of the signal, before " + next);
            next = start + buffer.length;
            buffers++;
        }
        return buffers;
    }

    // Where in the signal (the n-th little-endian word holds n) the bytes come from; -1 if nowhere.
    private static long signalPosition(byte[] bytes) {
        ByteBuffer words = ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
        for (int skip = 0; skip < 4; skip++) {
            long start = 4 * (words.getInt(skip) & 0xFFFFFFFFL) - skip;
            boolean matches = start >= 0;
            for (int i = 0; i < bytes.length && matches; i++) {
                long position = start + i;
                matches = bytes[i] == (byte) ((position / 4) >>> (8 * (position % 4)));
            }
            if (matches) return start;
        }
        fail("a buffer that is no stretch of the signal: " + Arrays.toString(bytes));
        return -1;
    }
}
