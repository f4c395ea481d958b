package com.velk.orvanta.content.client.audio;

import java.util.concurrent.atomic.AtomicBoolean;

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
 *     recorded, straight from the device's ring into the caller's array. One thread reads at a
 *     time; a second concurrent reader gets {@link IllegalStateException}. While every buffer of
 *     the ring waits to be read, the device loses what arrives.
 * <li>{@link #close} may come from any thread, also while a read is blocked. It releases the
 *     device before it returns; the blocked read then returns with the buffer the device was
 *     filling, cut short and padded with zero bytes, or {@code false} when it had recorded
 *     nothing. Closing again does nothing, and a close that comes while another is under way
 *     returns once the device is released.
 * <li>A read that starts after close has begun returns {@code false}.
 * <li>If the device fails to take a buffer back, that buffer is still handed over, then every
 *     later read throws {@link CaptureException} with the device's code; the capture records
 *     nothing more and only needs closing.
 * </ul>
 * The capture starts no thread of its own.
 */
public final class AudioCapture implements AutoCloseable {
    /** The most buffers one capture can cycle through. */
    public static final int MAX_BUFFERS = 256;

    // The native refuses a call on a capture that close has begun to release with this result;
    // any other result but 0 is the device's code, after the buffer was copied.
    private static final int REFUSED = 1;

    private final int handle;
    private final int sampleRate;
    private final int channels;
    private final int bitsPerSample;
    private final int bufferSize;

    // The native takes one reader at a time per capture.
    private final AtomicBoolean reading = new AtomicBoolean();
    // Set before the device is released, so a read the native refused knows why.
    private volatile boolean closing;
    // The device's code once a re-queue failed, 0 before.
    private volatile int deviceFailure;
    // Held while the device is being released, so that no close returns before it is.
    private final Object release = new Object();
    private boolean released;

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
     * @param bufferCount buffers in the device's ring, 1 to {@value #MAX_BUFFERS}; audio that
     *     arrives while every buffer waits to be read is lost
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
        try {
            return new AudioCapture(handle, sampleRate, channels, bitsPerSample, bufferSize);
        } catch (OutOfMemoryError e) {
            Voxcap.nclose(handle);
            throw e;
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
        if (closing) return false;
        if (!reading.compareAndSet(false, true)) throw new IllegalStateException("another thread is reading this capture");
        try {
            if (deviceFailure != 0) {
                throw new CaptureException("the recording device failed to take a buffer back (error code "
                    + deviceFailure + ")", deviceFailure);
            }
            // A close may overtake this call on its way in: the native then refuses it.
            int result = Voxcap.ngetBuffer(handle, dest, offset, length);
            if (result == REFUSED && closing) return false;
            if (result != 0) deviceFailure = result;
            return true;
        } finally {
            reading.set(false);
        }
    }

    /**
     * Stops recording and releases the device, from any thread; a read blocked in another thread
     * returns (see the class notes). Returns once the device is released: at once on a working or
     * silent device, within the native close's bound on one that does not answer. Only the first
     * call releases anything; one that comes while another is under way waits for it. Neither an
     * interrupt nor the thread's interrupt flag changes what it does.
     */
    @Override
    public void close() {
        closing = true;
        synchronized (release) {
            if (released) return;
            Voxcap.nclose(handle);
            released = true;
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
