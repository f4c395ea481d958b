import com.velk.orvanta.content.client.appshare.ScreenCapture;
import java.awt.Rectangle;

/**
 * ScreenCapture on a Wayland desktop (the desktop portal's ScreenCast over PipeWire), the whole
 * 1280 x 720 output once the session has started, against a bare copy of a frame of that size
 * into a Java array (what any grab must at least do), taking turns in the same rounds. Prints
 * one "name key=value ..." line, for bench/run.sh.
 */
public final class WaylandGrabBench {
    private static final int ROUNDS = 60;

    private WaylandGrabBench() {}

    public static void main(String[] args) throws Exception {
        Rectangle output = new Rectangle(0, 0, 1280, 720);
        int[] into = new int[output.width * output.height];
        long start = System.nanoTime();
        ScreenCapture.grab(output, into);
        double firstMs = (System.nanoTime() - start) / 1e6;
        int[] frame = into.clone();
        int[] copy = new int[frame.length];
        double[] m = Medians.of(ROUNDS, () -> ScreenCapture.grab(output, into), () -> ScreenCapture.grab(output),
            () -> System.arraycopy(frame, 0, copy, 0, frame.length));
        System.out.printf("wayland_grab width=%d height=%d first_ms=%.1f grab_into_ms=%.3f grab_ms=%.3f copy_ms=%.3f "
            + "pixel=%06x%n", output.width, output.height, firstMs, m[0], m[1], m[2], into[into.length / 2]);
    }
}
