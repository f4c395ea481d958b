/**
 * The client's native capture: {@code Voxcap} records from the default recording device, also as a
 * Java Sound mixer, and {@code Deskcap} copies a rectangle of the screen. The loader of the natives
 * is internal; its libraries are resources of this module.
 */
module com.velk.orvanta.content.client {
    requires java.desktop;

    exports com.velk.orvanta.content.client.audio;
    exports com.velk.orvanta.content.client.audio.javasound;
    exports com.velk.orvanta.content.client.appshare;

    provides javax.sound.sampled.spi.MixerProvider
        with com.velk.orvanta.content.client.audio.javasound.VoxcapMixerProvider;
}
