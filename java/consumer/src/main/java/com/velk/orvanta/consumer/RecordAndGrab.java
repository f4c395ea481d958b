package com.velk.orvanta.consumer;

import com.velk.orvanta.content.client.appshare.ScreenCapture;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * Records the test environment's tone (a sine of 7 samples at 8000 Hz) through the client's Java
 * Sound mixer, as AudioSystem finds it, and grabs a corner of the screen. Prints
 * what it did and exits 0, or prints why not and exits 1.
 */
public final class RecordAndGrab {
    private static final String MIXER = "Voxcap default recording device";

    private RecordAndGrab() {}

    public static void main(String[] args) throws Exception {
        String outcome = run();
        System.out.println(outcome);
        System.exit(outcome.startsWith("recorded") ? 0 : 1);
    }

    /** What it recorded and grabbed, or what went wrong. */
    public static String run() throws Exception {
        Mixer.Info voxcap = null;
        for (Mixer.Info info : AudioSystem.getMixerInfo()) {
            if (info.getName().equals(MIXER)) voxcap = info;
        }
        if (voxcap == null) return "no mixer \"" + MIXER + "\": the client's MixerProvider was not found";

        AudioFormat format = new AudioFormat(8000, 16, 1, true, false);
        // Two seconds, of which the second is judged: the first may show the line settling.
        byte[] recorded = new byte[32000];
        try (TargetDataLine line = AudioSystem.getTargetDataLine(format, voxcap)) {
            line.open(format);
            line.start();
            for (int n = 0; n < recorded.length; ) {
                int got = line.read(recorded, n, recorded.length - n);
                // A line that stopped (its device failed) reads nothing more.
                if (got == 0 && !line.isActive()) return "the line stopped after " + n + " bytes";
                n += got;
            }
        }
        int peak = 0;
        for (int n = 8000; n < recorded.length / 2; n++) {
            if (Math.abs(sample(recorded, n) - sample(recorded, n - 7)) > 400) return "the tone breaks at sample " + n;
            peak = Math.max(peak, Math.abs(sample(recorded, n)));
        }
        if (peak <= 12000) return "no tone: peak " + peak;
        int[] corner = ScreenCapture.grab(0, 0, 16, 16);
        return "recorded a second of the tone through " + voxcap.getName() + " (peak " + peak + "), grabbed "
            + corner.length + " pixels, from " + RecordAndGrab.class.getModule();
    }

    private static int sample(byte[] bytes, int n) {
        return (short) (bytes[2 * n] & 0xff | bytes[2 * n + 1] << 8);
    }
}
