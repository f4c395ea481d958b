package com.velk.orvanta.content.client.audio;

import com.velk.orvanta.content.client.natives.NativeLoader;

/**
 * Records PCM audio from the default recording device: the native methods of the Voxcap library.
 * Use {@link AudioCapture}, which keeps the calling rules that these methods rely on.
 */
public final class Voxcap {
    static {
        NativeLoader.load("Voxcap");
    }

    private Voxcap() {}

    /** Opens a capture; returns its handle, or 0 when the device could not be opened. */
    static native int nopen(int sampleRate, int channels, int bitsPerSample, int bufferSize, int bufferCount);

    /** Stops and releases a capture. */
    static native void nclose(int handle);

    /** Waits for the next recorded buffer and copies it into dest; 0 on success. */
    static native int ngetBuffer(int handle, byte[] dest, int offset, int length);
}
