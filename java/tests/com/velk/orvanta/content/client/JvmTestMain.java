package com.velk.orvanta.content.client;

import static org.junit.platform.engine.discovery.DiscoverySelectors.selectClass;

import java.io.PrintWriter;
import java.util.ArrayList;
import java.util.List;
import org.junit.platform.engine.discovery.ClassSelector;
import org.junit.platform.engine.support.descriptor.MethodSource;
import org.junit.platform.launcher.Launcher;
import org.junit.platform.launcher.core.LauncherDiscoveryRequestBuilder;
import org.junit.platform.launcher.core.LauncherFactory;
import org.junit.platform.launcher.listeners.SummaryGeneratingListener;
import org.junit.platform.launcher.listeners.TestExecutionSummary;

/**
 * Runs the given test classes and ends with a line "FAILED Class.method: exception" per failure, then
 * "N passed, N failed"; exit status 1 on failure. The one-line failures are what a runner collects
 * for its closing summary, where a log cut to its tail still shows them.
 */
public final class JvmTestMain {
    private JvmTestMain() {}

    public static void main(String[] testClasses) {
        List<ClassSelector> selectors = new ArrayList<>();
        for (String name : testClasses) selectors.add(selectClass(name));
        Launcher launcher = LauncherFactory.create();
        SummaryGeneratingListener listener = new SummaryGeneratingListener();
        launcher.execute(LauncherDiscoveryRequestBuilder.request().selectors(selectors).build(), listener);

        TestExecutionSummary summary = listener.getSummary();
        PrintWriter out = new PrintWriter(System.out, true);
        summary.printFailuresTo(out, 20);
        for (TestExecutionSummary.Failure failure : summary.getFailures()) {
            System.out.println("FAILED " + testName(failure) + ": " + failure.getException());
        }
        long failed = summary.getTotalFailureCount();
        System.out.println(summary.getTestsSucceededCount() + " passed, " + failed + " failed");
        System.exit(failed == 0 && summary.getTestsFoundCount() > 0 ? 0 : 1);
    }

    private static String testName(TestExecutionSummary.Failure failure) {
        return failure.getTestIdentifier().getSource()
                .filter(MethodSource.class::isInstance)
                .map(MethodSource.class::cast)
                .map(m -> m.getClassName().substring(m.getClassName().lastIndexOf('.') + 1) + "." + m.getMethodName())
                .orElse(failure.getTestIdentifier().getDisplayName());
    }
}
