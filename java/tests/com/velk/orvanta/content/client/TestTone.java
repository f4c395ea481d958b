package com.velk.orvanta.content.client;

import static org.junit.jupiter.api.Assertions.assertTrue;

/**
 * The tone that tests/env/devices.sh --tone 7 plays on the real microphone: a sine whose period is
 * 7 samples at 8000 Hz, at half of full scale.
 */
public final class TestTone {
    public static final int RATE = 8000;
    public static final int PERIOD = 7;
    /** Resampling leaves small differences from period to period; a break is far larger. */
    private static final int TOLERANCE = 400;

    private TestTone() {}

    /** Asserts that samples[from ...] hold the tone without a break, and not silence. */
    public static void assertContinuous(short[] samples, int from) {
        int peak = 0;
        for (int n = Math.max(from, PERIOD); n < samples.length; n++) {
            assertTrue(Math.abs(samples[n] - samples[n - PERIOD]) <= TOLERANCE, "the tone breaks at sample " + n);
            peak = Math.max(peak, Math.abs(samples[n]));
        }
        assertTrue(peak > 12000, "no tone: peak " + peak);
    }

    /** Little-endian 16-bit samples. */
    public static short[] samples(byte[] bytes, int length) {
        short[] samples = new short[length / 2];
        for (int i = 0; i < samples.length; i++) samples[i] = (short) (bytes[2 * i] & 0xff | bytes[2 * i + 1] << 8);
        return samples;
    }
}
