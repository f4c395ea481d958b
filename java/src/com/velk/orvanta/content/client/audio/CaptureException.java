package com.velk.orvanta.content.client.audio;

import java.io.IOException;

/** The recording device refused to open, or failed while recording. */
public final class CaptureException extends IOException {
    private static final long serialVersionUID = 1L;

    /** Marks an exception that carries no device code: the device does not report one for open. */
    public static final int NO_CODE = -1;

    private final int deviceCode;

    CaptureException(String message, int deviceCode) {
        super(message);
        this.deviceCode = deviceCode;
    }

    /** The platform's error code (an MMRESULT on Windows), or {@link #NO_CODE}. */
    public int deviceCode() {
        return deviceCode;
    }
}
