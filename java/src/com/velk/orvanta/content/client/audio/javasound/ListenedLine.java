package com.velk.orvanta.content.client.audio.javasound;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import javax.sound.sampled.Control;
import javax.sound.sampled.Line;
import javax.sound.sampled.LineEvent;
import javax.sound.sampled.LineListener;

/** What the mixer and its line share: no controls, and listeners told of each change. */
abstract class ListenedLine implements Line {
    private final List<LineListener> listeners = new CopyOnWriteArrayList<>();

    /** Tells every listener, on the calling thread; {@code position} is the event's frame position. */
    final void announce(LineEvent.Type type, long position) {
        LineEvent event = new LineEvent(this, type, position);
        for (LineListener listener : listeners) listener.update(event);
    }

    @Override
    public final Control[] getControls() {
        return new Control[0];
    }

    @Override
    public final boolean isControlSupported(Control.Type control) {
        return false;
    }

    @Override
    public final Control getControl(Control.Type control) {
        throw new IllegalArgumentException("no controls: " + control);
    }

    @Override
    public final void addLineListener(LineListener listener) {
        if (listener != null) listeners.add(listener);
    }

    @Override
    public final void removeLineListener(LineListener listener) {
        listeners.remove(listener);
    }
}
