import java.util.Arrays;

/** The grab benchmarks' timing: the median time of each run, measured in turns. */
final class Medians {
    private Medians() {}

    // In turns, so that a busy spell of the machine falls on all of them.
    static double[] of(int rounds, Runnable... runs) {
        for (int i = 0; i < 5; i++) {
            for (Runnable run : runs) run.run();
        }
        double[][] times = new double[runs.length][rounds];
        for (int round = 0; round < rounds; round++) {
            for (int r = 0; r < runs.length; r++) {
                long start = System.nanoTime();
                runs[r].run();
                times[r][round] = (System.nanoTime() - start) / 1e6;
            }
        }
        double[] medians = new double[runs.length];
        for (int r = 0; r < runs.length; r++) {
            Arrays.sort(times[r]);
            medians[r] = times[r][rounds / 2];
        }
        return medians;
    }
}
