package com.velk.orvanta.content.client.audio.javasound;

import com.velk.orvanta.content.client.audio.AudioCapture;
import com.velk.orvanta.content.client.audio.CaptureException;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Line;
import javax.sound.sampled.LineEvent;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.TargetDataLine;

/**
 * A recording from the default recording device as a {@link TargetDataLine}.
 *
 * <p>{@link #open(AudioFormat, int)} opens the device with the line's buffer split into a ring of
 * up to {@value #RING} device buffers. Each {@link #start} records afresh, so the line holds only
 * audio recorded after it; a thread of the line takes each device buffer as it is recorded into
 * the line's buffer, where {@link #read} finds it. While the line is stopped what the device
 * records is dropped, and so is what arrives when the line's buffer is full. A device that fails
 * stops the line; a later {@code start} tries the device again and leaves the line stopped if it
 * still fails. Listeners hear OPEN, START, STOP and CLOSE on the thread that made the change, in
 * that order.
 *
 * <p>The device records little-endian, 8-bit samples unsigned and wider ones signed. For a
 * big-endian format or signed 8-bit samples, {@link #read} turns the bytes it has copied into the
 * caller's array around in place: each sample's bytes reversed, or each byte's top bit flipped.
 *
 * <p>Until it is opened, and again once closed, the line is in its default format with its
 * default buffer size, what {@link #open()} opens with: those the mixer's {@code getLine} took
 * from the line's info.
 */
final class VoxcapTargetDataLine extends ListenedLine implements TargetDataLine {
    static final AudioFormat DEFAULT_FORMAT = new AudioFormat(44100f, 16, 2, true, false);
    /** Device buffers the line's buffer is split into: each is handed over as soon as it is recorded. */
    static final int RING = 8;
    private static final int DEFAULT_BUFFER_MILLIS = 500;
    private static final long PUMP_JOIN_MILLIS = 5000;

    // What read() does to the device's bytes: nothing, flip each byte's top bit, or reverse each
    // sample's bytes (2, 3 or 4 of them).
    private static final int AS_RECORDED = 0;
    private static final int FLIP_SIGN = 1;

    private final VoxcapMixer mixer;
    private final AudioFormat defaultFormat;
    // Bytes, or NOT_SPECIFIED for half a second of the default format.
    private final int defaultBufferSize;
    // Open, start and close one at a time, each to its end; reads and the line's thread never wait for it.
    private final Object lifecycle = new Object();
    private final Object lock = new Object();

    // All below are guarded by lock.
    private AudioFormat format;
    private int conversion = AS_RECORDED;
    private boolean open;
    // Counts the opens, so that a read that waited across a close and an open returns.
    private long opens;
    private int deviceBufferSize;
    private int deviceBuffers;
    // The device recording for the line; null once it failed.
    private AudioCapture capture;
    private Thread pump;
    private byte[] buffer = new byte[0];
    private int head;
    private int count;
    private boolean started;
    private long flushes;
    private long framesRead;

    /**
     * @param defaultFormat fully specified (see {@link #isFullySpecified})
     * @param defaultBufferSize bytes, rounded down to whole frames of defaultFormat (one at least);
     *     0 or less for half a second
     */
    VoxcapTargetDataLine(VoxcapMixer mixer, AudioFormat defaultFormat, int defaultBufferSize) {
        this.mixer = mixer;
        this.defaultFormat = defaultFormat;
        this.defaultBufferSize = defaultBufferSize > 0 ? defaultBufferSize : AudioSystem.NOT_SPECIFIED;
        format = defaultFormat;
    }

    /**
     * Whether the format says all a PCM line needs: its rates, sample size, channels and frame
     * size each above 0 (none NOT_SPECIFIED).
     */
    static boolean isFullySpecified(AudioFormat format) {
        return unspecified(format) == null;
    }

    // The first of the format's values that is 0 or less, NOT_SPECIFIED among them; null if none.
    private static String unspecified(AudioFormat format) {
        if (format.getChannels() <= 0) return "channels";
        if (format.getSampleSizeInBits() <= 0) return "sample size in bits";
        if (format.getFrameSize() <= 0) return "frame size";
        if (!(format.getSampleRate() > 0)) return "sample rate";
        if (!(format.getFrameRate() > 0)) return "frame rate";
        return null;
    }

    /** Opens the line in its format with its buffer size: the defaults until it is opened. */
    @Override
    public void open() throws LineUnavailableException {
        AudioFormat current;
        int bufferSize;
        synchronized (lock) {
            current = format;
            bufferSize = open ? buffer.length : bufferSizeFor(current, defaultBufferSize);
        }
        open(current, bufferSize);
    }

    /** Opens the line in {@code format} with half a second of buffer; see {@link #open(AudioFormat, int)}. */
    @Override
    public void open(AudioFormat format) throws LineUnavailableException {
        requireFullySpecified(format);
        open(format, bufferSizeFor(format, AudioSystem.NOT_SPECIFIED));
    }

    private static void requireFullySpecified(AudioFormat format) {
        String missing = unspecified(format);
        if (missing != null) {
            throw new IllegalArgumentException("format not fully specified or has no frame (" + missing
                + " not above 0): " + format);
        }
    }

    // asked rounded down to whole frames (one at least), or, if 0 or less, half a second of the
    // format in whole frames (RING at least). The format is fully specified.
    private static int bufferSizeFor(AudioFormat format, int asked) {
        int frameSize = format.getFrameSize();
        if (asked > 0) return Math.max(1, asked / frameSize) * frameSize;
        long frames = (long) format.getFrameRate() * DEFAULT_BUFFER_MILLIS / 1000;
        return (int) Math.min(Integer.MAX_VALUE / frameSize, Math.max(frames, RING)) * frameSize;
    }

    /**
     * Opens the device in {@code format}, with {@code bufferSize} bytes of buffer.
     *
     * @throws IllegalArgumentException if the format is not fully specified or has no frame (a
     *     channel count, sample size, frame size or rate of 0 or less, NOT_SPECIFIED among them), or
     *     bufferSize is not a positive number of whole frames
     * @throws LineUnavailableException naming the format, if this line does not carry it or the
     *     device refuses it
     * @throws IllegalStateException if the line is already open in another format, also when
     *     another thread opened it meanwhile
     */
    @Override
    public void open(AudioFormat format, int bufferSize) throws LineUnavailableException {
        requireFullySpecified(format);
        int frameSize = format.getFrameSize();
        if (bufferSize <= 0 || bufferSize % frameSize != 0) {
            throw new IllegalArgumentException("buffer size " + bufferSize + " is not a whole number of "
                + frameSize + "-byte frames");
        }
        synchronized (lifecycle) {
            synchronized (lock) {
                if (open) {
                    if (format.matches(this.format)) return;
                    throw new IllegalStateException("line is already open with format " + this.format);
                }
            }
            // The listed formats fix the encoding, sample size, channels, frame size and byte order.
            if (!VoxcapMixer.TARGET_INFO.isFormatSupported(format) || format.getSampleRate() != (int) format.getSampleRate()
                    || format.getFrameRate() != format.getSampleRate()) {
                throw new LineUnavailableException("the default recording device does not take " + format);
            }
            int perBuffer = Math.max(1, bufferSize / frameSize / RING) * frameSize;
            int buffers = Math.min(AudioCapture.MAX_BUFFERS, Math.max(1, bufferSize / perBuffer));
            // Memory first, the device after it, the line's state last: a failure on the way
            // (an OutOfMemoryError too) leaves the line closed and no device open.
            byte[] ring = new byte[perBuffer * buffers];
            byte[] chunk = new byte[perBuffer];
            AudioCapture opened;
            try {
                opened = openDevice(format, perBuffer, buffers);
            } catch (CaptureException refused) {
                LineUnavailableException failure = new LineUnavailableException("the default recording device refused "
                    + format + ": " + refused.getMessage());
                failure.initCause(refused);
                throw failure;
            }
            synchronized (lock) {
                takeFrom(opened, chunk);
                this.format = format;
                conversion = conversionTo(format);
                opens++;
                deviceBufferSize = perBuffer;
                deviceBuffers = buffers;
                buffer = ring;
                head = 0;
                count = 0;
                framesRead = 0;
                open = true;
            }
        }
        mixer.lineOpened(this);
        announce(LineEvent.Type.OPEN, getLongFramePosition());
    }

    // What read() does to the device's bytes for a format the line carries.
    private static int conversionTo(AudioFormat format) {
        int bits = format.getSampleSizeInBits();
        if (bits == 8) return format.getEncoding().equals(AudioFormat.Encoding.PCM_SIGNED) ? FLIP_SIGN : AS_RECORDED;
        return format.isBigEndian() ? bits / 8 : AS_RECORDED;
    }

    /**
     * Turns the device's bytes b[from ... to) in place into the format {@code conversion} stands
     * for. The range holds whole samples.
     */
    static void convert(byte[] b, int from, int to, int conversion) {
        switch (conversion) {
            case FLIP_SIGN:
                for (int i = from; i < to; i++) b[i] ^= (byte) 0x80;
                break;
            case 2:
            case 3:
                // 16 and 24 bits: the first and last bytes trade places; a 24-bit one keeps its middle.
                int last = conversion - 1;
                for (int i = from; i < to; i += conversion) {
                    byte low = b[i];
                    b[i] = b[i + last];
                    b[i + last] = low;
                }
                break;
            case 4:
                for (int i = from; i < to; i += 4) {
                    byte b0 = b[i];
                    byte b1 = b[i + 1];
                    b[i] = b[i + 3];
                    b[i + 1] = b[i + 2];
                    b[i + 2] = b1;
                    b[i + 3] = b0;
                }
                break;
            default:
                break;
        }
    }

    private static AudioCapture openDevice(AudioFormat format, int perBuffer, int buffers) throws CaptureException {
        return AudioCapture.open((int) format.getSampleRate(), format.getChannels(), format.getSampleSizeInBits(),
            perBuffer, buffers);
    }

    // Under the lock: records from the device into chunk with a thread of the line's own. If no
    // thread can be had, the device is closed and the line takes nothing.
    private void takeFrom(AudioCapture device, byte[] chunk) {
        Thread taker;
        try {
            taker = new Thread(() -> pump(device, chunk), "Voxcap line");
            taker.setDaemon(true);
            taker.start();
        } catch (Throwable noThread) {
            device.close();
            throw noThread;
        }
        capture = device;
        pump = taker;
    }

    /** The line's thread: takes every device buffer as it is recorded until the capture ends. */
    private void pump(AudioCapture from, byte[] chunk) {
        try {
            while (from.read(chunk)) deliver(from, chunk);
        } catch (CaptureException deviceFailed) {
            // Nothing more comes from this device: handled below like any other end.
        }
        boolean stopped;
        synchronized (lock) {
            if (capture != from) return;
            // The device failed: the line stops, and what it holds can still be read.
            capture = null;
            stopped = started;
            started = false;
            lock.notifyAll();
        }
        from.close();
        if (stopped) announce(LineEvent.Type.STOP, getLongFramePosition());
    }

    private void deliver(AudioCapture from, byte[] chunk) {
        synchronized (lock) {
            if (capture != from || !started) return;
            int n = Math.min(chunk.length, buffer.length - count);
            int tail = (head + count) % buffer.length;
            int first = Math.min(n, buffer.length - tail);
            System.arraycopy(chunk, 0, buffer, tail, first);
            System.arraycopy(chunk, first, buffer, 0, n - first);
            count += n;
            lock.notifyAll();
        }
    }

    /**
     * Copies recorded bytes into {@code b}. While the line is started it waits until {@code len}
     * bytes have come, or the line is stopped, flushed or closed, or the thread is interrupted; a
     * line that is not started gives what it holds without waiting. The bytes are in the line's
     * format: converted in b, after they were copied there, if the device records otherwise.
     *
     * @return the bytes copied, a whole number of frames; 0 once the line is closed
     * @throws IllegalArgumentException if len is negative or not a whole number of frames
     * @throws ArrayIndexOutOfBoundsException if off and len do not lie within b
     */
    @Override
    public int read(byte[] b, int off, int len) {
        int frameSize;
        long opened;
        synchronized (lock) {
            frameSize = format.getFrameSize();
            opened = opens;
        }
        if (len < 0 || len % frameSize != 0) {
            throw new IllegalArgumentException("cannot read " + len + " bytes: not a whole number of "
                + frameSize + "-byte frames");
        }
        if (off < 0 || (long) off + len > b.length) {
            throw new ArrayIndexOutOfBoundsException("offset " + off + ", length " + len + ", array length " + b.length);
        }
        int done = 0;
        int converting;
        synchronized (lock) {
            long flushesBefore = flushes;
            converting = conversion;
            while (open && opens == opened) {
                int n = Math.min(count, len - done);
                int first = Math.min(n, buffer.length - head);
                System.arraycopy(buffer, head, b, off + done, first);
                System.arraycopy(buffer, 0, b, off + done + first, n - first);
                head = (head + n) % buffer.length;
                count -= n;
                done += n;
                if (n > 0) lock.notifyAll();
                if (done == len || !started || flushes != flushesBefore) break;
                try {
                    lock.wait();
                } catch (InterruptedException interrupted) {
                    Thread.currentThread().interrupt();
                    break;
                }
            }
            if (opens == opened) framesRead += done / frameSize;
        }
        // Outside the lock: the line's thread need not wait for it.
        convert(b, off, off + done, converting);
        return done;
    }

    /** Waits until everything the line holds has been read, or the line is stopped or closed. */
    @Override
    public void drain() {
        synchronized (lock) {
            while (count > 0 && started) {
                try {
                    lock.wait();
                } catch (InterruptedException interrupted) {
                    Thread.currentThread().interrupt();
                    return;
                }
            }
        }
    }

    /** Drops what the line holds; a read that is waiting returns with what it has. */
    @Override
    public void flush() {
        synchronized (lock) {
            head = 0;
            count = 0;
            flushes++;
            lock.notifyAll();
        }
    }

    /**
     * Starts recording afresh: what the device recorded before is dropped, so the first bytes
     * read after this are recorded after it. If the device cannot be opened again (it failed
     * and is still gone), the line stays stopped.
     */
    @Override
    public void start() {
        synchronized (lifecycle) {
            AudioCapture before;
            Thread beforeTaker;
            AudioFormat recording;
            int perBuffer;
            int buffers;
            synchronized (lock) {
                if (!open || started) return;
                before = capture;
                beforeTaker = pump;
                capture = null;
                recording = format;
                perBuffer = deviceBufferSize;
                buffers = deviceBuffers;
            }
            release(before, beforeTaker);
            byte[] chunk = new byte[perBuffer];
            AudioCapture fresh;
            try {
                fresh = openDevice(recording, perBuffer, buffers);
            } catch (CaptureException stillGone) {
                return;
            }
            synchronized (lock) {
                takeFrom(fresh, chunk);
                started = true;
            }
        }
        announce(LineEvent.Type.START, getLongFramePosition());
    }

    /** Stops taking in audio; a read that is waiting returns with what it has. What the line holds stays. */
    @Override
    public void stop() {
        synchronized (lock) {
            if (!started) return;
            started = false;
            lock.notifyAll();
        }
        announce(LineEvent.Type.STOP, getLongFramePosition());
    }

    /** Closes the device, from any thread; a read that is waiting returns. Closing again does nothing. */
    @Override
    public void close() {
        boolean wasStarted;
        synchronized (lifecycle) {
            AudioCapture closing;
            Thread taker;
            synchronized (lock) {
                if (!open) return;
                closing = capture;
                taker = pump;
                wasStarted = started;
                open = false;
                capture = null;
                pump = null;
                started = false;
                count = 0;
                format = defaultFormat;
                conversion = AS_RECORDED;
                lock.notifyAll();
            }
            release(closing, taker);
        }
        mixer.lineClosed(this);
        if (wasStarted) announce(LineEvent.Type.STOP, getLongFramePosition());
        announce(LineEvent.Type.CLOSE, getLongFramePosition());
    }

    // Closes a device the line no longer takes from and lets its thread end. A device that failed
    // (null) was closed by its thread, which ends by itself.
    private static void release(AudioCapture device, Thread taker) {
        if (device == null) return;
        device.close();
        if (taker == Thread.currentThread()) return;
        try {
            taker.join(PUMP_JOIN_MILLIS);
        } catch (InterruptedException interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    @Override
    public boolean isOpen() {
        synchronized (lock) {
            return open;
        }
    }

    @Override
    public boolean isRunning() {
        return isActive();
    }

    @Override
    public boolean isActive() {
        synchronized (lock) {
            return started;
        }
    }

    @Override
    public AudioFormat getFormat() {
        synchronized (lock) {
            return format;
        }
    }

    /**
     * The line's buffer in bytes: the size asked for at open, rounded down to whole device buffers;
     * while the line is closed, the default buffer size.
     */
    @Override
    public int getBufferSize() {
        synchronized (lock) {
            return open ? buffer.length : bufferSizeFor(format, defaultBufferSize);
        }
    }

    @Override
    public int available() {
        synchronized (lock) {
            return count;
        }
    }

    /** Frames read from the line since it was opened. */
    @Override
    public int getFramePosition() {
        return (int) getLongFramePosition();
    }

    @Override
    public long getLongFramePosition() {
        synchronized (lock) {
            return framesRead;
        }
    }

    @Override
    public long getMicrosecondPosition() {
        synchronized (lock) {
            return (long) (framesRead * 1_000_000.0 / format.getFrameRate());
        }
    }

    @Override
    public float getLevel() {
        return AudioSystem.NOT_SPECIFIED;
    }

    @Override
    public Line.Info getLineInfo() {
        return VoxcapMixer.TARGET_INFO;
    }
}
