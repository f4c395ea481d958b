package com.velk.orvanta.content.client.audio;

/** Scripts the host's simulated machine, which the libraries under test run on. */
final class SimulatedMachine {
    static {
        System.loadLibrary("simulated_machine");
    }

    private SimulatedMachine() {}

    /** The device's next re-queue of a buffer fails with code. */
    static native void failNextRequeue(int code);

    /** Every format is refused, as by a device that takes nothing. */
    static native void refuseFormats(boolean refuse);

    /** Buffers complete only through {@link #completeBuffer}, never by the clock. */
    static native void manualMicrophone(boolean manual);

    /** Records the newest started device's head buffer in full and returns it; false if none is queued. */
    static native boolean completeBuffer();

    /** Every notification of every device arrives this much later than the event it reports. */
    static native void delayNotifications(int milliseconds);

    /** Devices open now. */
    static native int openDevices();

    /** Back to a machine with nothing scripted. */
    static native void reset();
}
