import com.velk.orvanta.content.client.appshare.ScreenCapture;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.Toolkit;

/**
 * ScreenCapture against Robot.createScreenCapture on the same screen, taking turns in the same
 * rounds: grab(Rectangle), grab(Rectangle, int[]) into one array, and Robot, for the whole screen
 * and for a 640 x 480 rectangle (one window shared). Needs DISPLAY. Prints one
 * "name key=value ..." line per figure, for bench/run.sh.
 */
public final class ScreenGrabBench {
    private static final int ROUNDS = 30;

    private ScreenGrabBench() {}

    public static void main(String[] args) throws Exception {
        Robot robot = new Robot();
        Rectangle screen = new Rectangle(Toolkit.getDefaultToolkit().getScreenSize());
        int[] into = new int[screen.width * screen.height];
        double[] whole = Medians.of(ROUNDS, () -> ScreenCapture.grab(screen), () -> ScreenCapture.grab(screen, into),
            () -> robot.createScreenCapture(screen));
        System.out.printf("java_grab width=%d height=%d grab_ms=%.3f grab_into_ms=%.3f robot_ms=%.3f%n",
            screen.width, screen.height, whole[0], whole[1], whole[2]);

        Rectangle window = new Rectangle(0, 0, Math.min(640, screen.width), Math.min(480, screen.height));
        int[] frame = new int[window.width * window.height];
        double[] part = Medians.of(ROUNDS, () -> ScreenCapture.grab(window), () -> ScreenCapture.grab(window, frame),
            () -> robot.createScreenCapture(window));
        System.out.printf("java_grab_window width=%d height=%d grab_ms=%.3f grab_into_ms=%.3f per_second=%.0f "
            + "robot_ms=%.3f robot_per_second=%.0f%n", window.width, window.height, part[0], part[1], 1000 / part[1],
            part[2], 1000 / part[2]);
    }
}
