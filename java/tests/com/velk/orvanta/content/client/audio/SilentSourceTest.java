package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * Captures of a source that the sound server has suspended, so that nothing ever arrives, on the
 * real Linux backend, run from the client jar in tests/env/devices.sh.
 */
class SilentSourceTest {
    @Test
    void closingCapturesOfASuspendedSourceLeavesNoThreadOrServerConnectionBehind() throws Exception {
        // Loads the backend and its sound library, whose own state is not the captures'.
        AudioCapture.open(16000, 1, 16, 3200, 4).close();
        // The default source is the monitor of the environment's sink "tone", and a monitor is
        // suspended with its sink.
        pactl("suspend-sink", "tone", "1");
        try {
            int loopsBefore = soundLoops();
            int socketsBefore = sockets();
            List<Thread> threadsBefore = new ArrayList<>(Thread.getAllStackTraces().keySet());
            List<AudioCapture> captures = new ArrayList<>();
            List<Thread> readers = new ArrayList<>();
            for (int i = 0; i < 5; i++) {
                AudioCapture mic = AudioCapture.open(16000, 1, 16, 32000, 4);
                captures.add(mic);
                Thread reader = new Thread(() -> readToTheEnd(mic), "reader " + i);
                reader.start();
                readers.add(reader);
            }
            for (Thread reader : readers) ReaderWaits.await(reader);
            for (AudioCapture mic : captures) {
                long start = System.nanoTime();
                mic.close();
                long closeMs = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
                // Waiting for audio would never end, and waiting half a second for it is far above
                // this; a prompt close takes milliseconds.
                assertTrue(closeMs < 250, "close took " + closeMs + " ms");
            }
            // Close returns once the device and its connection are gone.
            assertEquals(loopsBefore, soundLoops(), "sound server loops left running");
            assertEquals(socketsBefore, sockets(), "server connections left open");
            for (Thread reader : readers) {
                reader.join(5_000);
                assertFalse(reader.isAlive(), reader.getName() + " is still blocked");
            }
            List<String> left = new ArrayList<>();
            for (Thread thread : Thread.getAllStackTraces().keySet()) {
                if (!threadsBefore.contains(thread)) left.add(thread.getName());
            }
            assertTrue(left.isEmpty(), "threads left behind: " + left);
        } finally {
            pactl("suspend-sink", "tone", "0");
        }
    }

    private static void readToTheEnd(AudioCapture mic) {
        byte[] buffer = new byte[mic.bufferSize()];
        try {
            while (mic.read(buffer)) {
                // A suspended source records nothing; only the end matters.
            }
        } catch (CaptureException e) {
            throw new IllegalStateException(e);
        }
    }

    private static void pactl(String... arguments) throws Exception {
        List<String> command = new ArrayList<>();
        command.add("pactl");
        for (String argument : arguments) command.add(argument);
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        String said = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(process.waitFor(30, TimeUnit.SECONDS) && process.exitValue() == 0, command + ": " + said);
    }

    // The threads that run a sound server connection's event loop, by the name libpulse gives them.
    private static int soundLoops() throws IOException {
        int loops = 0;
        try (Stream<Path> tasks = Files.list(Paths.get("/proc/self/task"))) {
            for (Path task : (Iterable<Path>) tasks::iterator) {
                try {
                    String name = new String(Files.readAllBytes(task.resolve("comm")), StandardCharsets.UTF_8).trim();
                    if (name.equals("threaded-ml")) loops++;
                } catch (IOException ended) {
                    // The thread ended while the tasks were listed.
                }
            }
        }
        return loops;
    }

    private static int sockets() throws IOException {
        int sockets = 0;
        try (Stream<Path> fds = Files.list(Paths.get("/proc/self/fd"))) {
            for (Path fd : (Iterable<Path>) fds::iterator) {
                try {
                    if (Files.readSymbolicLink(fd).toString().startsWith("socket:")) sockets++;
                } catch (IOException gone) {
                    // The directory's own descriptor, closed once listed.
                }
            }
        }
        return sockets;
    }
}
