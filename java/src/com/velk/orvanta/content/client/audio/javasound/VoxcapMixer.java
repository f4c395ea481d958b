package com.velk.orvanta.content.client.audio.javasound;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.DataLine;
import javax.sound.sampled.Line;
import javax.sound.sampled.LineEvent;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * The default recording device as a mixer with target lines only. Each {@link #getLine} gives a
 * new line; several may record at once. The mixer itself needs no opening: its lines open the
 * device themselves.
 */
final class VoxcapMixer extends ListenedLine implements Mixer {
    static final Mixer.Info INFO = new Mixer.Info("Voxcap default recording device", "Orvanta",
        "The system's default recording device, PCM", "1.0") {};
    static final VoxcapMixer INSTANCE = new VoxcapMixer();

    /**
     * What the line gives, mono or stereo at any rate: each format the device records (8-bit
     * unsigned, 16, 24 and 32-bit signed little-endian) followed by its twin that the line converts
     * to as it reads (8-bit signed; big-endian), as the JDK's own capture lines list them.
     */
    static final DataLine.Info TARGET_INFO = new DataLine.Info(TargetDataLine.class, formats(),
        AudioSystem.NOT_SPECIFIED, AudioSystem.NOT_SPECIFIED);

    private final Line.Info mixerInfo = new Line.Info(Mixer.class);
    private final List<Line> openLines = new CopyOnWriteArrayList<>();
    private volatile boolean open;

    private VoxcapMixer() {}

    private static AudioFormat[] formats() {
        List<AudioFormat> formats = new ArrayList<>();
        for (int channels = 1; channels <= 2; channels++) {
            formats.add(pcm(AudioFormat.Encoding.PCM_UNSIGNED, 8, channels, false));
            formats.add(pcm(AudioFormat.Encoding.PCM_SIGNED, 8, channels, false));
            for (int bits = 16; bits <= 32; bits += 8) {
                formats.add(pcm(AudioFormat.Encoding.PCM_SIGNED, bits, channels, false));
                formats.add(pcm(AudioFormat.Encoding.PCM_SIGNED, bits, channels, true));
            }
        }
        return formats.toArray(new AudioFormat[0]);
    }

    private static AudioFormat pcm(AudioFormat.Encoding encoding, int bits, int channels, boolean bigEndian) {
        return new AudioFormat(encoding, AudioSystem.NOT_SPECIFIED, bits, channels, channels * bits / 8,
            AudioSystem.NOT_SPECIFIED, bigEndian);
    }

    @Override
    public Mixer.Info getMixerInfo() {
        return INFO;
    }

    @Override
    public Line.Info[] getSourceLineInfo() {
        return new Line.Info[0];
    }

    @Override
    public Line.Info[] getTargetLineInfo() {
        return new Line.Info[] {TARGET_INFO};
    }

    @Override
    public Line.Info[] getSourceLineInfo(Line.Info info) {
        return new Line.Info[0];
    }

    @Override
    public Line.Info[] getTargetLineInfo(Line.Info info) {
        return isLineSupported(info) ? getTargetLineInfo() : new Line.Info[0];
    }

    /**
     * Whether info asks for a target line in formats the line lists. The line's formats take any
     * rate, so a rate of 0 or less is refused here: NOT_SPECIFIED alone stands for "any".
     */
    @Override
    public boolean isLineSupported(Line.Info info) {
        if (info == null || !info.matches(TARGET_INFO)) return false;
        if (info instanceof DataLine.Info) {
            for (AudioFormat format : ((DataLine.Info) info).getFormats()) {
                if (format != null && (noRate(format.getSampleRate()) || noRate(format.getFrameRate()))) return false;
            }
        }
        return true;
    }

    private static boolean noRate(float rate) {
        return rate != AudioSystem.NOT_SPECIFIED && !(rate > 0);
    }

    /**
     * A new line. If {@code info} is a {@link DataLine.Info}, its last fully specified format is the
     * line's default format (else 44.1 kHz 16-bit stereo little-endian), and its maximum buffer
     * size, if given, the default buffer size: {@code getFormat()} before {@code open()}, and what
     * {@code open()} opens with.
     *
     * @throws IllegalArgumentException if this mixer has no line that matches info (also when one
     *     of its formats has no frame: no channel, samples of no bits, a frame size of 0 or less)
     */
    @Override
    public Line getLine(Line.Info info) throws LineUnavailableException {
        if (!isLineSupported(info)) throw new IllegalArgumentException("not supported by " + INFO.getName() + ": " + info);
        AudioFormat format = VoxcapTargetDataLine.DEFAULT_FORMAT;
        int bufferSize = AudioSystem.NOT_SPECIFIED;
        if (info instanceof DataLine.Info) {
            DataLine.Info asked = (DataLine.Info) info;
            for (AudioFormat candidate : asked.getFormats()) {
                if (candidate != null && VoxcapTargetDataLine.isFullySpecified(candidate)) format = candidate;
            }
            bufferSize = asked.getMaxBufferSize();
        }
        return new VoxcapTargetDataLine(this, format, bufferSize);
    }

    @Override
    public int getMaxLines(Line.Info info) {
        return isLineSupported(info) ? AudioSystem.NOT_SPECIFIED : 0;
    }

    @Override
    public Line[] getSourceLines() {
        return new Line[0];
    }

    @Override
    public Line[] getTargetLines() {
        return openLines.toArray(new Line[0]);
    }

    void lineOpened(Line line) {
        openLines.add(line);
    }

    void lineClosed(Line line) {
        openLines.remove(line);
    }

    @Override
    public void synchronize(Line[] lines, boolean maintainSync) {
        throw new IllegalArgumentException("synchronizing lines is not supported");
    }

    @Override
    public void unsynchronize(Line[] lines) {
        throw new IllegalArgumentException("synchronizing lines is not supported");
    }

    @Override
    public boolean isSynchronizationSupported(Line[] lines, boolean maintainSync) {
        return false;
    }

    @Override
    public Line.Info getLineInfo() {
        return mixerInfo;
    }

    @Override
    public void open() {
        if (open) return;
        open = true;
        announce(LineEvent.Type.OPEN, AudioSystem.NOT_SPECIFIED);
    }

    /** Closes every line of this mixer that is open, then the mixer. */
    @Override
    public void close() {
        for (Line line : openLines) line.close();
        if (!open) return;
        open = false;
        announce(LineEvent.Type.CLOSE, AudioSystem.NOT_SPECIFIED);
    }

    @Override
    public boolean isOpen() {
        return open;
    }
}
