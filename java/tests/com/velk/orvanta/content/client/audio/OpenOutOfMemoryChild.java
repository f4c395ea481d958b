package com.velk.orvanta.content.client.audio;

import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * The program that {@link JavaSoundLineTest} runs with a 16 MB heap: opens our line with a buffer
 * of 64 MB, which cannot be had, and prints what the line and the simulated machine say after
 * the OutOfMemoryError; then opens it with a small buffer and closes it, printing the same.
 */
public final class OpenOutOfMemoryChild {
    private OpenOutOfMemoryChild() {}

    public static void main(String[] args) throws Exception {
        AudioFormat format = new AudioFormat(8000, 32, 1, true, false);
        Mixer.Info voxcap = null;
        for (Mixer.Info info : AudioSystem.getMixerInfo()) {
            if (info.getName().equals("Voxcap default recording device")) voxcap = info;
        }
        TargetDataLine line = AudioSystem.getTargetDataLine(format, voxcap);
        try {
            line.open(format, 64 << 20);
            System.out.println("opened a buffer bigger than the heap");
        } catch (OutOfMemoryError expected) {
            System.out.println("OutOfMemoryError open=" + line.isOpen() + " devices=" + SimulatedMachine.openDevices());
        }
        line.open(format, 256);
        System.out.println("reopened open=" + line.isOpen() + " devices=" + SimulatedMachine.openDevices());
        line.close();
        System.out.println("closed devices=" + SimulatedMachine.openDevices());
    }
}
