package com.velk.orvanta.content.client.audio;

/** Scripts the host's simulated machine, which the libraries under test run on. */
final class SimulatedMachine {
    static {
        System.loadLibrary("simulated_machine");
    }

    private SimulatedMachine() {}

    /** The device's next re-queue of a buffer fails with code. */
    static native void failNextRequeue(int code);

    /** Manual mode: buffers are recorded only by {@link #complete}, never by the clock. */
    static native void manual(boolean manual);

    /** Records the newest started device's head buffer whole; false when none is queued. */
    static native boolean complete();

    /** Back to a real-time machine with nothing scripted. */
    static native void reset();
}
