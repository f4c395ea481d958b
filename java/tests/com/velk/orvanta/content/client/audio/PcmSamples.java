package com.velk.orvanta.content.client.audio;

import java.util.ArrayList;
import java.util.List;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.DataLine;
import javax.sound.sampled.Line;
import javax.sound.sampled.Mixer;

/** PCM samples as numbers, in whatever encoding, size and byte order, for the Java Sound line's tests. */
final class PcmSamples {
    private PcmSamples() {}

    /** The samples in bytes[0 ... length): signed ones as they are, unsigned ones less half their range. */
    static int[] of(byte[] bytes, int length, AudioFormat format) {
        int size = format.getSampleSizeInBits() / 8;
        boolean signed = format.getEncoding().equals(AudioFormat.Encoding.PCM_SIGNED);
        long half = 1L << (8 * size - 1);
        int[] samples = new int[length / size];
        for (int k = 0; k < samples.length; k++) {
            long value = 0;
            for (int i = 0; i < size; i++) {
                int at = k * size + (format.isBigEndian() ? i : size - 1 - i);
                value = value << 8 | (bytes[at] & 0xff);
            }
            samples[k] = (int) (signed ? (value ^ half) - half : value - half);
        }
        return samples;
    }

    /** The format the device records for a line in {@code format}: little-endian, 8-bit unsigned, wider signed. */
    static AudioFormat recorded(AudioFormat format) {
        int bits = format.getSampleSizeInBits();
        return new AudioFormat(bits == 8 ? AudioFormat.Encoding.PCM_UNSIGNED : AudioFormat.Encoding.PCM_SIGNED,
            format.getSampleRate(), bits, format.getChannels(), format.getFrameSize(), format.getFrameRate(), false);
    }

    /** The formats the mixer's target line lists, each at {@code rate}. */
    static List<AudioFormat> listed(Mixer mixer, float rate) {
        List<AudioFormat> formats = new ArrayList<>();
        for (Line.Info info : mixer.getTargetLineInfo()) {
            for (AudioFormat f : ((DataLine.Info) info).getFormats()) {
                formats.add(new AudioFormat(f.getEncoding(), rate, f.getSampleSizeInBits(), f.getChannels(),
                    f.getFrameSize(), rate, f.isBigEndian()));
            }
        }
        return formats;
    }

    /** "PCM_SIGNED 16-bit stereo big-endian": what tells the line's formats apart. */
    static String describe(AudioFormat format) {
        int bits = format.getSampleSizeInBits();
        int channels = format.getChannels();
        return format.getEncoding() + " " + bits + "-bit " + (channels == 1 ? "mono" : channels == 2 ? "stereo" : channels + " channels")
            + (bits > 8 ? (format.isBigEndian() ? " big-endian" : " little-endian") : "");
    }
}
