import com.velk.orvanta.content.client.audio.AudioCapture;
import com.velk.orvanta.content.client.audio.CaptureException;
import java.util.Arrays;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * close() while another thread is blocked reading, for 100 ms and 1 s buffers: AudioCapture
 * beside the JDK's own TargetDataLine on the same source, in turns. Each close lands at a
 * different point of the buffer being recorded; then 1 s buffers again with the source suspended,
 * so that nothing is ever recorded. Needs PULSE_SERVER and pactl. Prints one "NAME
 * ours_median_ms=... ours_max_ms=... jdk_median_ms=... jdk_max_ms=..." line per case, for
 * bench/run.sh.
 */
public final class CloseBench {
    private static final AudioFormat FORMAT = new AudioFormat(16000, 16, 1, true, false);
    private static final int BYTES_PER_MS = 32;
    private static final int ROUNDS = 10;
    private static final long READER_JOIN_MS = 5000;

    private CloseBench() {}

    /** Something to close while a reader waits in it. */
    private interface Recording extends AutoCloseable {
        /** Reads one buffer; false once closed. */
        boolean readOnce() throws Exception;

        @Override
        void close();
    }

    public static void main(String[] args) throws Exception {
        Mixer.Info jdkMixer = mixer("default [default]");
        for (int bufferMs : new int[] {100, 1000}) row("java_close_" + bufferMs, jdkMixer, bufferMs);
        // A silent source: the server suspends it, and no buffer ever fills.
        pactl("suspend-source", "@DEFAULT_SOURCE@", "1");
        try {
            row("java_close_silent_1000", jdkMixer, 1000);
        } finally {
            pactl("suspend-source", "@DEFAULT_SOURCE@", "0");
        }
    }

    private static void pactl(String... arguments) throws Exception {
        String[] command = new String[arguments.length + 1];
        command[0] = "pactl";
        System.arraycopy(arguments, 0, command, 1, arguments.length);
        Process process = new ProcessBuilder(command).inheritIO().start();
        if (process.waitFor() != 0) throw new IllegalStateException("pactl " + String.join(" ", arguments) + " failed");
    }

    /** Prints one line: close with a blocked reader on buffers of bufferMs, ours beside the JDK's. */
    private static void row(String name, Mixer.Info jdkMixer, int bufferMs) throws Exception {
        int bytes = bufferMs * BYTES_PER_MS;
        double[] ours = new double[ROUNDS];
        double[] theirs = new double[ROUNDS];
        for (int round = 0; round < ROUNDS; round++) {
            long into = 30 + (long) bufferMs * round / ROUNDS;
            ours[round] = closeWhileReading(ours(bytes), into);
            theirs[round] = closeWhileReading(jdk(jdkMixer, bytes), into);
        }
        Arrays.sort(ours);
        Arrays.sort(theirs);
        System.out.printf("%s ours_median_ms=%.2f ours_max_ms=%.2f jdk_median_ms=%.2f jdk_max_ms=%.2f%n",
            name, ours[ROUNDS / 2], ours[ROUNDS - 1], theirs[ROUNDS / 2], theirs[ROUNDS - 1]);
    }

    private static Recording ours(int bytes) throws CaptureException {
        AudioCapture mic = AudioCapture.open(16000, 1, 16, bytes, 4);
        byte[] buffer = new byte[bytes];
        return new Recording() {
            @Override
            public boolean readOnce() throws CaptureException {
                return mic.read(buffer);
            }

            @Override
            public void close() {
                mic.close();
            }
        };
    }

    private static Recording jdk(Mixer.Info mixer, int bytes) throws LineUnavailableException {
        TargetDataLine line = AudioSystem.getTargetDataLine(FORMAT, mixer);
        line.open(FORMAT, 4 * bytes);
        line.start();
        byte[] buffer = new byte[bytes];
        return new Recording() {
            @Override
            public boolean readOnce() {
                return line.read(buffer, 0, bytes) == bytes;
            }

            @Override
            public void close() {
                line.close();
            }
        };
    }

    /** Milliseconds that close takes, some time into a recording that a reader reads to its end. */
    private static double closeWhileReading(Recording recording, long intoMs) throws Exception {
        Thread reader = new Thread(() -> {
            try {
                while (recording.readOnce()) {
                    // Only the end matters here.
                }
            } catch (Exception failed) {
                throw new IllegalStateException(failed);
            }
        });
        reader.start();
        Thread.sleep(intoMs);
        long start = System.nanoTime();
        recording.close();
        double ms = (System.nanoTime() - start) / 1e6;
        reader.join(READER_JOIN_MS);
        if (reader.isAlive()) throw new IllegalStateException("a reader was still blocked after close");
        return ms;
    }

    private static Mixer.Info mixer(String name) {
        for (Mixer.Info info : AudioSystem.getMixerInfo()) if (info.getName().equals(name)) return info;
        throw new IllegalStateException("no mixer " + name);
    }
}
