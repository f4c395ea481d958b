import java.util.Arrays;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * Java-side figures, each beside the JDK's own way in the same run: our line's read against the
 * JDK's TargetDataLine (time to the first bytes after start, spread of the intervals between
 * reads) on the same source. Needs PULSE_SERVER for the JDK's line; the grab's figures are
 * ScreenGrabBench's. Prints one "name key=value ..." line per figure, for bench/run.sh.
 */
public final class JavaSideBench {
    private static final AudioFormat FORMAT = new AudioFormat(16000, 16, 1, true, false);
    private static final int READ = 3200;  // 0.1 s
    private static final int READS = 30;

    private JavaSideBench() {}

    public static void main(String[] args) throws Exception {
        line("java_line_voxcap", AudioSystem.getTargetDataLine(FORMAT, mixer("Voxcap default recording device")));
        try {
            line("java_line_jdk", AudioSystem.getTargetDataLine(FORMAT, mixer("default [default]")));
        } catch (IllegalStateException noMixer) {
            System.out.println("java_line_jdk skipped=no-default-mixer");
        }
    }

    private static Mixer.Info mixer(String name) {
        for (Mixer.Info info : AudioSystem.getMixerInfo()) if (info.getName().equals(name)) return info;
        throw new IllegalStateException("no mixer " + name);
    }

    private static void line(String name, TargetDataLine line) throws Exception {
        line.open(FORMAT, READ * 8);
        byte[] buffer = new byte[READ];
        long start = System.nanoTime();
        line.start();
        line.read(buffer, 0, READ);
        double first = (System.nanoTime() - start) / 1e6;
        double[] intervals = new double[READS];
        long last = System.nanoTime();
        for (int i = 0; i < READS; i++) {
            line.read(buffer, 0, READ);
            long now = System.nanoTime();
            intervals[i] = (now - last) / 1e6;
            last = now;
        }
        line.close();
        Arrays.sort(intervals);
        System.out.printf("%s read_bytes=%d first_ms=%.1f interval_min_ms=%.1f interval_median_ms=%.1f interval_max_ms=%.1f%n",
            name, READ, first, intervals[0], intervals[READS / 2], intervals[READS - 1]);
    }
}
