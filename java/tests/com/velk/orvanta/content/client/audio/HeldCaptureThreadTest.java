package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.sun.jdi.Bootstrap;
import com.sun.jdi.ThreadReference;
import com.sun.jdi.VMDisconnectedException;
import com.sun.jdi.VirtualMachine;
import com.sun.jdi.connect.Connector;
import com.sun.jdi.connect.LaunchingConnector;
import com.sun.jdi.event.Event;
import com.sun.jdi.event.EventSet;
import com.sun.jdi.event.LocatableEvent;
import com.sun.jdi.event.MethodEntryEvent;
import com.sun.jdi.event.VMDeathEvent;
import com.sun.jdi.event.VMDisconnectEvent;
import com.sun.jdi.request.EventRequest;
import com.sun.jdi.request.EventRequestManager;
import com.sun.jdi.request.MethodEntryRequest;
import com.sun.jdi.request.MethodExitRequest;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * A reader held still by the debugger (as a collection pause or an overloaded machine holds it)
 * for seconds around its native call, while another thread closes the capture: close must
 * return while the reader is held, the VM must survive the reader's call on the closed capture,
 * and the read must end once the reader goes on. Runs {@link CloseWindowChild} in a VM of its own.
 */
class HeldCaptureThreadTest {
    private static final String VOXCAP = "com.velk.orvanta.content.client.audio.Voxcap";
    // The debugger's method events slow the whole child VM down; a close that waits for the held
    // thread is seen by its report coming only after the hold.
    private static final long HOLD_MS = 10_000;

    /** Where the reader is held: the event, the native method, and which of its calls. */
    private static final class Point {
        final boolean entry;
        final String method;
        final int call;

        Point(boolean entry, String method, int call) {
            this.entry = entry;
            this.method = method;
            this.call = call;
        }

        boolean matches(Event event) {
            return event instanceof LocatableEvent && (event instanceof MethodEntryEvent) == entry
                && ((LocatableEvent) event).location().method().name().equals(method);
        }

        @Override
        public String toString() {
            return (entry ? "just before " : "just after ") + method + " (call " + call + ")";
        }
    }

    @Test
    void aReaderHeldAroundItsNativeCallWhileAnotherThreadClosesNeverReachesAFreedCapture() throws Exception {
        List<Point> points = new ArrayList<>();
        points.add(new Point(true, "ngetBuffer", 1));
        points.add(new Point(true, "ngetBuffer", 3));
        points.add(new Point(false, "ngetBuffer", 3));

        VirtualMachine vm = launchChild();
        Process child = vm.process();
        BlockingQueue<String> lines = new LinkedBlockingQueue<>();
        StringBuffer errors = new StringBuffer();
        // The JNI checker also writes to standard output, warning of the debugger agent's own
        // local references; only the child's reports are answers.
        drain(child.getInputStream(), lines, errors);
        drain(child.getErrorStream(), null, errors);
        OutputStream commands = child.getOutputStream();

        EventRequestManager requests = vm.eventRequestManager();
        MethodEntryRequest entries = requests.createMethodEntryRequest();
        entries.addClassFilter(VOXCAP);
        entries.setSuspendPolicy(EventRequest.SUSPEND_EVENT_THREAD);
        entries.enable();
        MethodExitRequest exits = requests.createMethodExitRequest();
        exits.addClassFilter(VOXCAP);
        exits.setSuspendPolicy(EventRequest.SUSPEND_EVENT_THREAD);
        exits.enable();
        vm.resume();

        Set<ThreadReference> heldBefore = new HashSet<>();
        List<String> rounds = new ArrayList<>();
        boolean alive = true;
        for (Point point : points) {
            send(commands, "open");
            EventSet held = null;
            int calls = 0;
            while (held == null && alive) {
                EventSet events = vm.eventQueue().remove(20_000);
                assertNotNull(events, "no call reached " + point + "; child said " + errors);
                for (Event event : events) {
                    if (event instanceof VMDeathEvent || event instanceof VMDisconnectEvent) alive = false;
                    if (point.matches(event) && !heldBefore.contains(((LocatableEvent) event).thread())
                            && ++calls == point.call) {
                        held = events;
                        heldBefore.add(((LocatableEvent) event).thread());
                    }
                }
                if (held == null) events.resume();
            }
            assertTrue(alive, "the child VM ended before " + point + ": " + errors);
            long heldAt = System.nanoTime();
            send(commands, "close");
            String closed = nextReport(vm, lines, HOLD_MS);
            // Close must not wait for the held reader.
            assertNotNull(closed, "close did not return while the reader was held " + point + "; " + errors);
            long left = HOLD_MS - TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - heldAt);
            if (left > 0) Thread.sleep(left);
            held.resume();
            send(commands, "join");
            String joined = nextReport(vm, lines, 30_000);
            assertNotNull(joined, "the child did not report its reader " + point + "; " + errors);
            rounds.add(point + ": " + closed + ", " + joined);
        }
        send(commands, "end");
        commands.close();
        // Let the child run to its end, answering every event.
        for (boolean running = true; running;) {
            EventSet events = vm.eventQueue().remove(30_000);
            assertNotNull(events, "the child VM did not end; " + errors);
            for (Event event : events) {
                if (event instanceof VMDisconnectEvent) running = false;
            }
            if (!running) break;
            try {
                events.resume();
            } catch (VMDisconnectedException ended) {
                // The child may end between its last event and our answer; its exit says how.
                running = false;
            }
        }
        assertTrue(child.waitFor(30, TimeUnit.SECONDS), "the child VM did not exit");
        String last = lines.poll(5, TimeUnit.SECONDS);
        assertEquals("survived", last, "rounds " + rounds + "; child said " + errors);
        assertEquals(0, child.exitValue(), errors.toString());
        assertTrue(!errors.toString().contains("in native method"), "the JNI checker complained: " + errors);
        for (String round : rounds) {
            assertTrue(round.contains("reader_stuck=false"), round);
            // A loaded machine and the slowed VM add little to a prompt close; one that waited
            // for the held reader would take the whole hold.
            assertTrue(closeMs(round) < HOLD_MS / 2, round);
        }
    }

    // The child's next report, within timeoutMs; meanwhile every event of the threads that are
    // not held (the closing thread's own native calls among them) is answered at once.
    private static String nextReport(VirtualMachine vm, BlockingQueue<String> lines, long timeoutMs)
            throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(timeoutMs);
        while (System.nanoTime() - deadline < 0) {
            String line = lines.poll(10, TimeUnit.MILLISECONDS);
            if (line != null) return line;
            EventSet events = vm.eventQueue().remove(10);
            if (events != null) events.resume();
        }
        return null;
    }

    private static long closeMs(String round) {
        String value = round.replaceAll(".*close_ms=(\\d+).*", "$1");
        return Long.parseLong(value);
    }

    /**
     * The class path itself: under Maven the JVM's is a jar whose manifest lists it, which the
     * child's launcher would read with -Xcheck:jni warnings of the JDK's own.
     */
    private static String classPath() {
        return System.getProperty("surefire.test.class.path", System.getProperty("java.class.path"));
    }

    private static VirtualMachine launchChild() throws Exception {
        LaunchingConnector launcher = Bootstrap.virtualMachineManager().defaultConnector();
        Map<String, Connector.Argument> arguments = launcher.defaultArguments();
        arguments.get("main").setValue(CloseWindowChild.class.getName());
        arguments.get("options").setValue("-Xcheck:jni"
            + " -XX:ErrorFile=" + System.getProperty("java.io.tmpdir") + "/orvanta-hs_err_%p.log"
            + " -Djava.library.path=" + System.getProperty("java.library.path")
            + " -cp " + classPath());
        return launcher.launch(arguments);
    }

    private static void send(OutputStream commands, String line) throws IOException {
        commands.write((line + "\n").getBytes(StandardCharsets.UTF_8));
        commands.flush();
    }

    // Reads a stream to its end in a thread of its own: the child's reports into lines (when
    // given), everything else into text.
    private static void drain(InputStream stream, BlockingQueue<String> lines, StringBuffer text) {
        Thread thread = new Thread(() -> {
            try (BufferedReader reader = new BufferedReader(new InputStreamReader(stream, StandardCharsets.UTF_8))) {
                for (String line; (line = reader.readLine()) != null;) {
                    boolean report = line.startsWith("round ") || line.equals("survived");
                    if (lines != null && report) lines.add(line);
                    else text.append(line).append('\n');
                }
            } catch (IOException e) {
                // The child has gone; what it wrote so far is kept.
            }
        });
        thread.setDaemon(true);
        thread.start();
    }
}
