package com.velk.orvanta.content.client.audio;

import java.util.concurrent.TimeUnit;

/** Waits until a reader is blocked for its buffer: inside the native hand-over, where no Java wait shows, or in a Java wait. */
final class ReaderWaits {
    private static final long GENEROUS_MS = 10_000;

    private ReaderWaits() {}

    static void await(Thread reader) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(GENEROUS_MS);
        while (!waits(reader)) {
            if (System.nanoTime() - deadline > 0) throw new AssertionError(reader.getName() + " never waited for a buffer");
            Thread.sleep(2);
        }
    }

    private static boolean waits(Thread reader) {
        StackTraceElement[] stack = reader.getStackTrace();
        boolean inHandOver = stack.length > 0 && stack[0].isNativeMethod() && stack[0].getMethodName().equals("ngetBuffer");
        return inHandOver || reader.getState() == Thread.State.WAITING;
    }
}
