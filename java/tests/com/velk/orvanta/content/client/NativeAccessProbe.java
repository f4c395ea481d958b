package com.velk.orvanta.content.client;

import com.velk.orvanta.content.client.appshare.ScreenCapture;

/**
 * Run in a fresh JVM by NativeAccessTest, from the class path or with the client on the module
 * path: a first use of the client, and what it threw. Outside the client's packages, which the
 * client's module owns on the module path.
 */
public final class NativeAccessProbe {
    private NativeAccessProbe() {}

    public static void main(String[] args) {
        try {
            System.out.println("grabbed " + ScreenCapture.grab(0, 0, 1, 1).length + " pixel");
        } catch (Throwable refused) {
            System.out.println("threw " + refused);
        }
    }
}
