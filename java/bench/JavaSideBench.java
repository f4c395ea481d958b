import com.velk.orvanta.content.client.appshare.ScreenCapture;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.Toolkit;
import java.util.Arrays;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Mixer;
import javax.sound.sampled.TargetDataLine;

/**
 * Java-side figures, each beside the JDK's own way in the same run: grab(Rectangle) against
 * Robot.createScreenCapture, and our line's read against the JDK's TargetDataLine (time to the
 * first bytes after start, spread of the intervals between reads) on the same source.
 * Needs DISPLAY and, for the JDK's line, PULSE_SERVER. Prints one "name key=value ..." line per
 * figure, for bench/run.sh.
 */
public final class JavaSideBench {
    private static final AudioFormat FORMAT = new AudioFormat(16000, 16, 1, true, false);
    private static final int READ = 3200;  // 0.1 s
    private static final int READS = 30;

    private JavaSideBench() {}

    public static void main(String[] args) throws Exception {
        Rectangle screen = new Rectangle(Toolkit.getDefaultToolkit().getScreenSize());
        Robot robot = new Robot();
        int[] into = new int[screen.width * screen.height];
        double ours = medianMillis(() -> ScreenCapture.grab(screen));
        double reused = medianMillis(() -> ScreenCapture.grab(screen, into));
        double theirs = medianMillis(() -> robot.createScreenCapture(screen));
        System.out.printf("java_grab width=%d height=%d grab_ms=%.3f grab_into_ms=%.3f robot_ms=%.3f%n",
            screen.width, screen.height, ours, reused, theirs);

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

    private static double medianMillis(Runnable grab) {
        for (int i = 0; i < 5; i++) grab.run();
        double[] times = new double[30];
        for (int i = 0; i < times.length; i++) {
            long start = System.nanoTime();
            grab.run();
            times[i] = (System.nanoTime() - start) / 1e6;
        }
        Arrays.sort(times);
        return times[times.length / 2];
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
