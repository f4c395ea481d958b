package com.velk.orvanta.content.client.audio;

import java.util.ArrayDeque;
import java.util.concurrent.TimeUnit;

/**
 * One recording from the default recording device, in signed or unsigned little-endian PCM as
 * the device delivers it (8-bit samples unsigned, wider ones signed).
 *
 * <pre>{@code
 * try (AudioCapture mic = AudioCapture.open(16000, 1, 16, 3200, 8)) {
 *     byte[] buffer = new byte[mic.bufferSize()];
 *     while (mic.read(buffer)) {
 *         out.write(buffer);
 *     }
 * }
 * }</pre>
 *
 * <p>Rules, all kept by this class:
 * <ul>
 * <li>{@link #read} hands over the recording one buffer at a time, in the order it was
 *     recorded. One thread reads at a time; a second concurrent reader gets
 *     {@link IllegalStateException}.
 * <li>Each capture has one internal thread that takes the device's buffers as they are recorded
 *     and holds up to {@value #HELD_BUFFERS} of them for {@link #read}. Nothing it took is
 *     dropped before close: a reader that falls behind finds them all, in order. When those and
 *     the device's whole ring wait to be read, the device loses what arrives meanwhile, as it
 *     would without this class.
 * <li>{@link #close} may come from any thread, also while a read is blocked; that read then
 *     returns {@code false} at once. Closing again does nothing. Buffers held but not yet read
 *     are dropped.
 * <li>After close has begun every read returns {@code false}. A close can overtake a read that
 *     is about to start, so the end of the capture looks the same whenever it comes.
 * <li>If the device fails to take a buffer back, the buffers recorded up to then are still
 *     handed over, then every later read throws {@link CaptureException} with the device's
 *     code; the capture records nothing more and only needs closing.
 * </ul>
 */
public final class AudioCapture implements AutoCloseable {
    /** The most buffers one capture can cycle through. */
    public static final int MAX_BUFFERS = 256;

    // Recorded buffers the internal thread holds for the reader, beyond the device's ring.
    private static final int HELD_BUFFERS = 2;
    // The most close waits for the internal thread to release the device.
    private static final long RELEASE_WAIT_MS = 500;

    private final int handle;
    private final int sampleRate;
    private final int channels;
    private final int bitsPerSample;
    private final int bufferSize;

    // Guards every field below; the internal thread and the users' threads meet only here.
    private final Object lock = new Object();
    private final ArrayDeque<byte[]> recorded = new ArrayDeque<>(HELD_BUFFERS);
    private final ArrayDeque<byte[]> free = new ArrayDeque<>(HELD_BUFFERS);
    private boolean reading;
    private boolean closing;
    // Set by the internal thread once it has closed the device.
    private boolean released;
    // The device's code once a re-queue failed, 0 before.
    private int deviceFailure;

    private AudioCapture(int handle, int sampleRate, int channels, int bitsPerSample, int bufferSize) {
        this.handle = handle;
        this.sampleRate = sampleRate;
        this.channels = channels;
        this.bitsPerSample = bitsPerSample;
        this.bufferSize = bufferSize;
        for (int i = 0; i < HELD_BUFFERS; i++) free.add(new byte[bufferSize]);
    }

    /**
     * Opens the default recording device and starts recording into a ring of buffers.
     *
     * @param sampleRate samples per second per channel, above 0
     * @param channels 1 to 65535 (devices usually take 1 or 2)
     * @param bitsPerSample 1 to 65535 (devices usually take 8, 16, 24 or 32)
     * @param bufferSize bytes per buffer, above 0; what one {@link #read} hands over
     * @param bufferCount buffers in the device's ring, 1 to {@value #MAX_BUFFERS}; audio that
     *     arrives while every buffer waits to be read is lost (see the class notes)
     * @throws IllegalArgumentException if a value is out of range
     * @throws CaptureException if the device refuses the format or cannot be opened
     */
    public static AudioCapture open(int sampleRate, int channels, int bitsPerSample,
            int bufferSize, int bufferCount) throws CaptureException {
        require(sampleRate > 0, "sampleRate must be positive: " + sampleRate);
        require(channels > 0 && channels <= 0xFFFF, "channels out of range: " + channels);
        require(bitsPerSample > 0 && bitsPerSample <= 0xFFFF, "bitsPerSample out of range: " + bitsPerSample);
        require(bufferSize > 0, "bufferSize must be positive: " + bufferSize);
        require(bufferCount > 0 && bufferCount <= MAX_BUFFERS, "bufferCount out of range: " + bufferCount);
        int handle = Voxcap.nopen(sampleRate, channels, bitsPerSample, bufferSize, bufferCount);
        if (handle == 0) {
            throw new CaptureException("could not open the default recording device (format "
                + sampleRate + " Hz, " + channels + " channel(s), " + bitsPerSample + " bits, "
                + bufferCount + " buffers of " + bufferSize + " bytes)", CaptureException.NO_CODE);
        }
        AudioCapture capture;
        Thread thread;
        try {
            capture = new AudioCapture(handle, sampleRate, channels, bitsPerSample, bufferSize);
            thread = new Thread(capture::takeBuffers, "Voxcap capture " + Integer.toHexString(handle));
            thread.setDaemon(true);
            thread.start();
        } catch (OutOfMemoryError | RuntimeException e) {
            // No internal thread runs, so this is the only thread that knows the handle.
            Voxcap.nclose(handle);
            throw e;
        }
        return capture;
    }

    /**
     * The internal thread: the only one that calls into the capture after open, so the native
     * close can never free it under another call. It stops at close, or once the device has
     * failed, and then closes the device itself.
     */
    private void takeBuffers() {
        try {
            for (;;) {
                byte[] buffer = freeBuffer();
                if (buffer == null) break;
                int result = Voxcap.ngetBuffer(handle, buffer, 0, bufferSize);
                // Only nclose makes the native refuse a correct call, and only this thread calls
                // it: any result but 0 is the device's code, after the buffer was copied.
                if (!keep(buffer, result)) break;
            }
        } finally {
            Voxcap.nclose(handle);
            synchronized (lock) {
                released = true;
                lock.notifyAll();
            }
        }
    }

    // An empty buffer to record into, once the reader has given one back; null once closing.
    private byte[] freeBuffer() {
        synchronized (lock) {
            boolean interrupted = false;
            while (!closing && free.isEmpty()) {
                interrupted |= await(0);
            }
            if (interrupted) Thread.currentThread().interrupt();
            return closing ? null : free.poll();
        }
    }

    // Hands a recorded buffer to the reader; false when the thread should stop.
    private boolean keep(byte[] buffer, int result) {
        synchronized (lock) {
            if (closing) return false;
            recorded.add(buffer);
            if (result != 0) deviceFailure = result;
            lock.notifyAll();
            return result == 0;
        }
    }

    /** Same as {@code read(dest, 0, bufferSize())}. */
    public boolean read(byte[] dest) throws CaptureException {
        return read(dest, 0, bufferSize);
    }

    /**
     * Waits for the next recorded buffer and copies its first {@code length} bytes into
     * {@code dest} from {@code offset} on; the rest of that buffer is dropped. A buffer the device
     * returned only partly filled (when recording stops) is padded with zero bytes. The wait is
     * not ended by an interrupt (the thread's interrupt flag stays set); {@link #close} ends it.
     *
     * @return {@code true} when a buffer was copied, {@code false} once the capture is closed
     * @throws NullPointerException if dest is null
     * @throws IndexOutOfBoundsException if offset and length do not lie within dest
     * @throws IllegalArgumentException if length is above {@link #bufferSize()}
     * @throws IllegalStateException if another thread is reading this capture
     * @throws CaptureException if the device failed (see the class notes)
     */
    public boolean read(byte[] dest, int offset, int length) throws CaptureException {
        if (dest == null) throw new NullPointerException("dest");
        if (offset < 0 || length < 0 || length > dest.length - offset) {
            throw new IndexOutOfBoundsException("offset " + offset + ", length " + length
                + ", array length " + dest.length);
        }
        require(length <= bufferSize, "length " + length + " is above the buffer size " + bufferSize);
        byte[] buffer;
        synchronized (lock) {
            if (closing) return false;
            if (reading) throw new IllegalStateException("another thread is reading this capture");
            reading = true;
            try {
                buffer = nextRecorded();
            } catch (CaptureException e) {
                reading = false;
                throw e;
            }
            if (buffer == null) {
                reading = false;
                return false;
            }
        }
        // The buffer is this thread's until it goes back, so the copy needs no lock.
        System.arraycopy(buffer, 0, dest, offset, length);
        synchronized (lock) {
            reading = false;
            if (!closing) {
                free.add(buffer);
                lock.notifyAll();
            }
        }
        return true;
    }

    // Under the lock: the next recorded buffer, or null once closing.
    private byte[] nextRecorded() throws CaptureException {
        boolean interrupted = false;
        try {
            while (!closing && recorded.isEmpty() && deviceFailure == 0) {
                interrupted |= await(0);
            }
        } finally {
            if (interrupted) Thread.currentThread().interrupt();
        }
        if (closing) return null;
        if (recorded.isEmpty()) {
            throw new CaptureException("the recording device failed to take a buffer back (error code "
                + deviceFailure + ")", deviceFailure);
        }
        return recorded.poll();
    }

    /**
     * Stops recording and releases the device. Releases a read blocked in another thread at once,
     * which then returns {@code false}. Only the first call does anything. It waits until the
     * internal thread has closed the device, which it does as soon as the buffer it waits for
     * comes back (within one buffer's time on a working device), but never more than
     * {@value #RELEASE_WAIT_MS} ms: a device that is slower is closed right after close returns.
     * An interrupt does not cut the wait short, and the interrupt flag stays set.
     */
    @Override
    public void close() {
        synchronized (lock) {
            if (closing) return;
            closing = true;
            recorded.clear();
            lock.notifyAll();
            long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(RELEASE_WAIT_MS);
            boolean interrupted = false;
            for (long left = RELEASE_WAIT_MS; !released && left > 0;
                    left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime())) {
                interrupted |= await(left);
            }
            if (interrupted) Thread.currentThread().interrupt();
        }
    }

    // Under the lock: waits for a change (0: no time limit); true when it was interrupted. An
    // interrupt clears the flag, so the caller's next wait blocks instead of returning at once.
    private boolean await(long millis) {
        try {
            lock.wait(millis);
            return false;
        } catch (InterruptedException e) {
            return true;
        }
    }

    public int sampleRate() {
        return sampleRate;
    }

    public int channels() {
        return channels;
    }

    public int bitsPerSample() {
        return bitsPerSample;
    }

    /** Bytes in each buffer: the most one read hands over. */
    public int bufferSize() {
        return bufferSize;
    }

    private static void require(boolean condition, String message) {
        if (!condition) throw new IllegalArgumentException(message);
    }
}
