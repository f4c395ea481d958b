package com.velk.orvanta.content.client.audio;

import java.util.Arrays;

/**
 * The hand-over in a real JVM: Voxcap.ngetBuffer of a buffer that is already recorded, into a
 * Java byte[], beside System.arraycopy of as many bytes into the same array out of as many
 * freshly written arrays. The host build's simulated microphone is scripted so that the whole
 * ring is recorded before the clock starts, so nothing waits on real time; the libraries are the
 * real Voxcap code. Prints one "handover_N ngetBuffer_ns=... arraycopy_ns=..." line per size
 * (the median per call over every batch), for bench/run.sh.
 */
final class HandOverBench {
    private static final int[] SIZES = {1 << 10, 16 << 10, 64 << 10};
    private static final int RING = 16;
    private static final int WARM_UP_BATCHES = 200;
    private static final int BATCHES = 1500;

    private static int sink;

    private HandOverBench() {}

    public static void main(String[] args) {
        SimulatedMachine.manualMicrophone(true);
        System.out.println("jvm version=" + System.getProperty("java.version") + " vm=" + System.getProperty("java.vm.name").replace(' ', '_'));
        for (int size : SIZES) {
            byte[] dest = new byte[size];
            int handle = Voxcap.nopen(8000, 1, 16, size, RING);
            if (handle == 0) throw new IllegalStateException("nopen failed at " + size + " bytes");
            byte[][] sources = new byte[RING][size];
            double[] handOver = new double[BATCHES];
            double[] copy = new double[BATCHES];
            // Taken in turns, so that whatever else the machine does weighs on both alike.
            for (int batch = -WARM_UP_BATCHES; batch < BATCHES; batch++) {
                double h = handOverBatch(handle, dest);
                double c = copyBatch(sources, dest);
                if (batch >= 0) {
                    handOver[batch] = h;
                    copy[batch] = c;
                }
            }
            Voxcap.nclose(handle);
            System.out.printf("handover_%d ngetBuffer_ns=%.1f arraycopy_ns=%.1f%n", size, median(handOver), median(copy));
        }
        SimulatedMachine.reset();
        if (sink == 42) System.out.println();
    }

    /** Nanoseconds per call of RING hand-overs, the whole ring recorded beforehand. */
    private static double handOverBatch(int handle, byte[] dest) {
        for (int i = 0; i < RING; i++) {
            if (!SimulatedMachine.completeBuffer()) throw new IllegalStateException("no buffer queued");
        }
        long start = System.nanoTime();
        for (int i = 0; i < RING; i++) {
            int result = Voxcap.ngetBuffer(handle, dest, 0, dest.length);
            if (result != 0) throw new IllegalStateException("ngetBuffer gave " + result);
        }
        long time = System.nanoTime() - start;
        sink += dest[dest.length - 1];
        return (double) time / RING;
    }

    /**
     * Nanoseconds per copy of RING copies out of arrays written just before, at the speed the
     * simulated device writes its buffers: how long bytes have sat since they were written
     * weighs on the copy as much as the copy itself on this machine.
     */
    private static double copyBatch(byte[][] sources, byte[] dest) {
        for (byte[] source : sources) {
            for (int i = 0; i < source.length; i++) source[i] = (byte) (i + sink);
        }
        long start = System.nanoTime();
        for (byte[] source : sources) System.arraycopy(source, 0, dest, 0, dest.length);
        long time = System.nanoTime() - start;
        sink += dest[dest.length - 1];
        return (double) time / RING;
    }

    private static double median(double[] samples) {
        double[] sorted = samples.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }
}
