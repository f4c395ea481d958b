package com.velk.orvanta.content.client.audio.javasound;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Control;
import javax.sound.sampled.DataLine;
import javax.sound.sampled.Line;
import javax.sound.sampled.LineEvent;
import javax.sound.sampled.LineListener;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * The default recording device as a mixer with target lines only. Each {@link #getLine} gives a
 * new line; several may record at once. The mixer itself needs no opening: its lines open the
 * device themselves.
 */
final class VoxcapMixer implements Mixer {
    static final Mixer.Info INFO = new Mixer.Info("Voxcap default recording device", "Orvanta",
        "The system's default recording device, PCM", "1.0") {};
    static final VoxcapMixer INSTANCE = new VoxcapMixer();

    /** What the device may take: 8-bit unsigned or 16/24/32-bit signed little-endian, mono or stereo, any rate. */
    static final DataLine.Info TARGET_INFO = new DataLine.Info(TargetDataLine.class, formats(),
        AudioSystem.NOT_SPECIFIED, AudioSystem.NOT_SPECIFIED);

    private final Line.Info mixerInfo = new Line.Info(Mixer.class);
    private final List<Line> openLines = new CopyOnWriteArrayList<>();
    private final List<LineListener> listeners = new CopyOnWriteArrayList<>();
    private volatile boolean open;

    private VoxcapMixer() {}

    private static AudioFormat[] formats() {
        List<AudioFormat> formats = new ArrayList<>();
        for (int channels = 1; channels <= 2; channels++) {
            formats.add(new AudioFormat(AudioFormat.Encoding.PCM_UNSIGNED, AudioSystem.NOT_SPECIFIED, 8, channels,
                channels, AudioSystem.NOT_SPECIFIED, false));
            for (int bits = 16; bits <= 32; bits += 8) {
                formats.add(new AudioFormat(AudioFormat.Encoding.PCM_SIGNED, AudioSystem.NOT_SPECIFIED, bits, channels,
                    channels * bits / 8, AudioSystem.NOT_SPECIFIED, false));
            }
        }
        return formats.toArray(new AudioFormat[0]);
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

    @Override
    public boolean isLineSupported(Line.Info info) {
        return info != null && info.matches(TARGET_INFO);
    }

    @Override
    public Line getLine(Line.Info info) throws LineUnavailableException {
        if (!isLineSupported(info)) throw new IllegalArgumentException("not supported by " + INFO.getName() + ": " + info);
        return new VoxcapTargetDataLine(this);
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
        notify(LineEvent.Type.OPEN);
    }

    /** Closes every line of this mixer that is open, then the mixer. */
    @Override
    public void close() {
        for (Line line : openLines) line.close();
        if (!open) return;
        open = false;
        notify(LineEvent.Type.CLOSE);
    }

    private void notify(LineEvent.Type type) {
        LineEvent event = new LineEvent(this, type, AudioSystem.NOT_SPECIFIED);
        for (LineListener listener : listeners) listener.update(event);
    }

    @Override
    public boolean isOpen() {
        return open;
    }

    @Override
    public Control[] getControls() {
        return new Control[0];
    }

    @Override
    public boolean isControlSupported(Control.Type control) {
        return false;
    }

    @Override
    public Control getControl(Control.Type control) {
        throw new IllegalArgumentException("no controls: " + control);
    }

    @Override
    public void addLineListener(LineListener listener) {
        if (listener != null) listeners.add(listener);
    }

    @Override
    public void removeLineListener(LineListener listener) {
        listeners.remove(listener);
    }
}
