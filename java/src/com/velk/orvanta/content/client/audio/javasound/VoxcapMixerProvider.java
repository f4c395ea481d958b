package com.velk.orvanta.content.client.audio.javasound;

import javax.sound.sampled.Mixer;
import javax.sound.sampled.spi.MixerProvider;

/**
 * Makes the default recording device a Java Sound mixer, "Voxcap default recording device":
 * {@code AudioSystem.getMixerInfo()} lists it and {@code AudioSystem.getTargetDataLine(format,
 * info)} records from it. Registered in {@code META-INF/services}; not called directly.
 */
public final class VoxcapMixerProvider extends MixerProvider {
    /** Called by the Java Sound service loader. */
    public VoxcapMixerProvider() {}

    @Override
    public Mixer.Info[] getMixerInfo() {
        return new Mixer.Info[] {VoxcapMixer.INFO};
    }

    @Override
    public Mixer getMixer(Mixer.Info info) {
        if (info != null && info != VoxcapMixer.INFO) {
            throw new IllegalArgumentException("not a mixer of this provider: " + info);
        }
        return VoxcapMixer.INSTANCE;
    }
}
