package com.velk.orvanta.content.client.audio;

/** Scripts the host's simulated machine, which the libraries under test run on. */
final class SimulatedMachine {
    static {
        System.loadLibrary("simulated_machine");
    }

    private SimulatedMachine() {}

    /** The device's next re-queue of a buffer fails with code. */
    static native void failNextRequeue(int code);

    /** Back to a machine with nothing scripted. */
    static native void reset();
}
