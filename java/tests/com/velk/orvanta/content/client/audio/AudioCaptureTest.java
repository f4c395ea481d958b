package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.time.Duration;
import java.util.Arrays;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Against the simulated microphone, whose n-th recorded 32-bit little-endian word is n. */
class AudioCaptureTest {
    // 8000 bytes per second, so a buffer of this size takes three seconds to fill.
    static final int SLOW_BUFFER = 24_000;

    private final ExecutorService threads = Executors.newCachedThreadPool();

    @AfterEach
    void stopThreadsAndClearScriptedFailures() throws InterruptedException {
        SimulatedMachine.reset();
        threads.shutdownNow();
        assertTrue(threads.awaitTermination(5, TimeUnit.SECONDS), "a reader is still blocked");
        assertNoDeviceOpen();
    }

    /** Every capture a test opened is closed by its end, and close releases the device before it returns. */
    static void assertNoDeviceOpen() {
        assertEquals(0, SimulatedMachine.openDevices(), "a closed capture kept its device");
    }

    @Test
    void everyVoxcapNativeBinds() {
        int handle = Voxcap.nopen(8000, 1, 8, 4, 2);
        assertNotEquals(0, handle);
        assertEquals(0, Voxcap.ngetBuffer(handle, new byte[4], 0, 4));
        Voxcap.nclose(handle);
    }

    @Test
    void readsTheRecordingInOrderAcrossBuffers() throws Exception {
        // 64000 bytes per second into 16 buffers of 62.5 ms: a second of slack for a slow reader.
        try (AudioCapture mic = AudioCapture.open(16000, 2, 16, 4000, 16)) {
            byte[] buffer = new byte[mic.bufferSize()];
            int expected = 0;
            for (int n = 0; n < 16; n++) {
                assertTrue(mic.read(buffer));
                ByteBuffer words = ByteBuffer.wrap(buffer).order(ByteOrder.LITTLE_ENDIAN);
                while (words.hasRemaining()) {
                    assertEquals(expected++, words.getInt(), "word " + (expected - 1));
                }
            }
        }
    }

    @Test
    void readWritesOnlyItsSliceOfTheArray() throws Exception {
        try (AudioCapture mic = AudioCapture.open(8000, 1, 32, 16, 4)) {
            byte[] dest = new byte[12];
            Arrays.fill(dest, (byte) 0x55);
            assertTrue(mic.read(dest, 2, 8));
            assertEquals("[85, 85, 0, 0, 0, 0, 1, 0, 0, 0, 85, 85]", Arrays.toString(dest));
        }
    }

    @Test
    void closeFromAnotherThreadReleasesABlockedRead() throws Exception {
        AudioCapture mic = AudioCapture.open(8000, 1, 8, SLOW_BUFFER, 2);
        Future<Integer> reader = threads.submit(() -> {
            int buffers = 0;
            while (mic.read(new byte[SLOW_BUFFER])) buffers++;
            return buffers;
        });
        Thread.sleep(300);
        assertFalse(reader.isDone(), "the reader should be waiting for a full buffer");

        long start = System.nanoTime();
        mic.close();
        long closeMillis = (System.nanoTime() - start) / 1_000_000;
        // The buffer cut short by the stop may still be handed over; then the capture ends.
        assertTrue(reader.get(2, TimeUnit.SECONDS) <= 1);
        assertTrue(closeMillis < 1000, "close took " + closeMillis + " ms");
    }

    @Test
    void closeTwiceIsHarmlessAndReadAfterCloseEndsTheCapture() throws Exception {
        AudioCapture mic = AudioCapture.open(8000, 1, 16, 160, 4);
        byte[] buffer = new byte[160];
        assertTrue(mic.read(buffer));
        mic.close();
        mic.close();
        assertFalse(mic.read(buffer));
        assertFalse(mic.read(buffer));
    }

    @Test
    void aSecondConcurrentReaderIsRefused() throws Exception {
        AudioCapture mic = AudioCapture.open(8000, 1, 8, SLOW_BUFFER, 2);
        try {
            AtomicReference<Thread> first = new AtomicReference<>();
            Future<Boolean> firstRead = threads.submit(() -> {
                first.set(Thread.currentThread());
                return mic.read(new byte[SLOW_BUFFER]);
            });
            while (first.get() == null) Thread.sleep(2);
            ReaderWaits.await(first.get());
            assertThrows(IllegalStateException.class, () -> mic.read(new byte[SLOW_BUFFER]));
            mic.close();
            // The refusal left the waiting read alone: close still ends it.
            firstRead.get(5, TimeUnit.SECONDS);
        } finally {
            mic.close();
        }
    }

    @Test
    void aDeviceFailureHandsOverItsBufferThenFailsEveryLaterRead() throws Exception {
        SimulatedMachine.manualMicrophone(true);
        // 1 is the device's general error code, which the native returns like its own refusal.
        for (int code : new int[] {5, 1}) {
            AudioCapture mic = AudioCapture.open(8000, 1, 32, 16, 4);
            SimulatedMachine.failNextRequeue(code);
            assertTrue(SimulatedMachine.completeBuffer());
            byte[] buffer = new byte[16];
            assertTrue(mic.read(buffer));
            assertEquals(3, ByteBuffer.wrap(buffer).order(ByteOrder.LITTLE_ENDIAN).getInt(12), "the buffer was handed over");
            for (int attempt = 0; attempt < 2; attempt++) {
                CaptureException failure = assertThrows(CaptureException.class, () -> mic.read(buffer));
                assertEquals(code, failure.deviceCode());
                assertTrue(failure.getMessage().endsWith("(error code " + code + ")"), failure.getMessage());
            }
            mic.close();
            assertFalse(mic.read(buffer));
        }
    }

    @Test
    void aFormatTheDeviceRefusesIsAnExceptionNamingIt() {
        CaptureException refused = assertThrows(CaptureException.class, () -> AudioCapture.open(8000, 1, 12, 160, 4));
        assertTrue(refused.getMessage().startsWith("could not open the default recording device (format 8000 Hz, 1 channel(s), 12 bits"),
            refused.getMessage());
        assertEquals(CaptureException.NO_CODE, refused.deviceCode());
        assertThrows(CaptureException.class, () -> AudioCapture.open(8000, 9, 16, 160, 4));
    }

    @Test
    void badArgumentsAreRefusedBeforeReachingTheDevice() throws Exception {
        assertThrows(IllegalArgumentException.class, () -> AudioCapture.open(8000, 1, 16, 160, 0));
        assertThrows(IllegalArgumentException.class, () -> AudioCapture.open(8000, 1, 16, 160, AudioCapture.MAX_BUFFERS + 1));
        assertThrows(IllegalArgumentException.class, () -> AudioCapture.open(8000, 0x10001, 16, 160, 4));

        try (AudioCapture mic = AudioCapture.open(8000, 1, 16, 160, 4)) {
            assertThrows(NullPointerException.class, () -> mic.read(null));
            assertThrows(IndexOutOfBoundsException.class, () -> mic.read(new byte[159]));
            assertThrows(IndexOutOfBoundsException.class, () -> mic.read(new byte[200], Integer.MAX_VALUE, 10));
            assertThrows(IllegalArgumentException.class, () -> mic.read(new byte[200], 0, 161));
            assertTrue(mic.read(new byte[160]), "the capture still works after refused reads");
        }
    }

    @Test
    void theNativesThemselvesRefuseBadArgumentsWithoutWaiting() {
        assertEquals(0, Voxcap.nopen(8000, 1, 16, 160, AudioCapture.MAX_BUFFERS + 1));
        int handle = Voxcap.nopen(8000, 1, 8, SLOW_BUFFER, 2);
        try {
            // Any call that waited for the slow buffer instead of refusing would hit the limit.
            assertTimeoutPreemptively(Duration.ofSeconds(2), () -> {
                assertEquals(1, Voxcap.ngetBuffer(handle, null, 0, 1));
                assertEquals(1, Voxcap.ngetBuffer(handle, new byte[SLOW_BUFFER], 1, SLOW_BUFFER));
                assertEquals(1, Voxcap.ngetBuffer(handle, new byte[8], Integer.MAX_VALUE, 2));
            });
        } finally {
            Voxcap.nclose(handle);
        }
    }
}
