package com.velk.orvanta.content.client.audio;

import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.LockSupport;

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
 * <li>{@link #close} may come from any thread, also while a read is blocked; that read then
 *     returns {@code false} (end of capture), or its buffer if it is recorded within a moment.
 *     Closing again does nothing.
 * <li>After close has begun no call reaches the device any more: every later read returns
 *     {@code false}. A close can overtake a read that is about to start, so the end of the
 *     capture looks the same whenever it comes.
 * <li>If the device fails to take a buffer back, the read that got the buffer still returns
 *     its data, and every later read throws {@link CaptureException} with the device's code;
 *     the capture records nothing more and only needs closing.
 * </ul>
 */
public final class AudioCapture implements AutoCloseable {
    /** The most buffers one capture can cycle through. */
    public static final int MAX_BUFFERS = 256;

    private static final int READING = 1;
    private static final int CLOSED = 2;
    private static final int NATIVE_REFUSED = 1;
    // How long close lets a read in progress come back by itself before the native close.
    private static final long READ_GRACE_MS = 200;

    private final int handle;
    private final int sampleRate;
    private final int channels;
    private final int bitsPerSample;
    private final int bufferSize;
    // READING while a thread is inside read, CLOSED from the start of close on. Readers and the
    // closer meet only here, so a blocked read never holds up close.
    private final AtomicInteger state = new AtomicInteger();
    // Written and read only by the thread that holds READING.
    private int deviceFailure;

    private AudioCapture(int handle, int sampleRate, int channels, int bitsPerSample, int bufferSize) {
        this.handle = handle;
        this.sampleRate = sampleRate;
        this.channels = channels;
        this.bitsPerSample = bitsPerSample;
        this.bufferSize = bufferSize;
    }

    /**
     * Opens the default recording device and starts recording into a ring of buffers.
     *
     * @param sampleRate samples per second per channel, above 0
     * @param channels 1 to 65535 (devices usually take 1 or 2)
     * @param bitsPerSample 1 to 65535 (devices usually take 8, 16, 24 or 32)
     * @param bufferSize bytes per buffer, above 0; what one {@link #read} hands over
     * @param bufferCount buffers in the ring, 1 to {@value #MAX_BUFFERS}; audio that arrives
     *     while every buffer waits to be read is lost
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
        return new AudioCapture(handle, sampleRate, channels, bitsPerSample, bufferSize);
    }

    /** Same as {@code read(dest, 0, bufferSize())}. */
    public boolean read(byte[] dest) throws CaptureException {
        return read(dest, 0, bufferSize);
    }

    /**
     * Waits for the next recorded buffer and copies its first {@code length} bytes into
     * {@code dest} from {@code offset} on; the rest of that buffer is dropped. A buffer the device
     * returned only partly filled (when recording stops) is padded with zero bytes.
     *
     * @return {@code true} when a buffer was copied, {@code false} once the capture is closed
     * @throws NullPointerException if dest is null
     * @throws IndexOutOfBoundsException if offset and length do not lie within dest
     * @throws IllegalArgumentException if length is above {@link #bufferSize()}
     * @throws IllegalStateException if another thread is reading this capture
     * @throws CaptureException if the device failed on an earlier buffer (see the class notes)
     */
    public boolean read(byte[] dest, int offset, int length) throws CaptureException {
        if (dest == null) throw new NullPointerException("dest");
        if (offset < 0 || length < 0 || length > dest.length - offset) {
            throw new IndexOutOfBoundsException("offset " + offset + ", length " + length
                + ", array length " + dest.length);
        }
        require(length <= bufferSize, "length " + length + " is above the buffer size " + bufferSize);
        if (!beginRead()) return false;
        try {
            if (deviceFailure != 0) {
                throw new CaptureException("the recording device failed to take a buffer back (error code "
                    + deviceFailure + ")", deviceFailure);
            }
            int result = Voxcap.ngetBuffer(handle, dest, offset, length);
            if (result == 0) return true;
            // The arguments were checked above, so a refusal means the capture is closing; a 1
            // while it is not closing is the device's general error code.
            if (result == NATIVE_REFUSED && isClosed()) return false;
            deviceFailure = result;
            return true;
        } finally {
            state.getAndUpdate(s -> s & ~READING);
        }
    }

    private boolean beginRead() {
        for (;;) {
            int s = state.get();
            if ((s & CLOSED) != 0) return false;
            if ((s & READING) != 0) throw new IllegalStateException("another thread is reading this capture");
            if (state.compareAndSet(s, s | READING)) return true;
        }
    }

    private boolean isClosed() {
        return (state.get() & CLOSED) != 0;
    }

    /**
     * Stops recording and releases the device. Releases a read blocked in another thread, which
     * then returns {@code false} (or its buffer, if the buffer is recorded first). Only the first
     * call does anything; it returns within about {@value #READ_GRACE_MS} ms plus the device's
     * own close time.
     */
    @Override
    public void close() {
        int before = state.getAndUpdate(s -> s | CLOSED);
        if ((before & CLOSED) != 0) return;
        // The native close frees the capture. A read that has passed its check but not yet
        // entered the native call would then reach freed memory, so a read in progress is given
        // a moment to come back by itself (it does as soon as its buffer is recorded); one that
        // is still blocked after that is inside the native call, where nclose releases it.
        if ((before & READING) != 0) awaitReadReturn();
        Voxcap.nclose(handle);
    }

    private void awaitReadReturn() {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(READ_GRACE_MS);
        while ((state.get() & READING) != 0 && System.nanoTime() - deadline < 0) {
            LockSupport.parkNanos(TimeUnit.MILLISECONDS.toNanos(1));
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
