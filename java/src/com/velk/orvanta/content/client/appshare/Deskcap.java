package com.velk.orvanta.content.client.appshare;

import com.velk.orvanta.content.client.natives.NativeLoader;

/**
 * Copies rectangles of the screen into int arrays of 32-bit RGB pixels: the native method of the
 * Deskcap library. Use {@link ScreenCapture}, which sizes the array and checks the arguments.
 */
public final class Deskcap {
    static {
        NativeLoader.load("Deskcap");
    }

    private Deskcap() {}

    /** Copies the screen rectangle into pixels, whose length must be width * height. */
    static native void nGrabPixels(int[] pixels, int x, int y, int width, int height);
}
