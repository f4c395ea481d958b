package com.velk.orvanta.content.client.audio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.velk.orvanta.content.client.TestTone;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.TargetDataLine;
import org.junit.jupiter.api.Test;

/**
 * Our Java Sound line when the sound server dies mid-capture, on the real Linux backend in a
 * tests/env/devices.sh of its own (the server does not come back).
 */
class SoundServerDeathTest {
    private static final AudioFormat FORMAT = new AudioFormat(TestTone.RATE, 16, 1, true, false);
    // Far beyond the moments this takes, even on a loaded machine; a read that hangs never ends.
    private static final long GENEROUS_MS = 30_000;

    @Test
    void aLineWhoseServerDiedStopsStaysStoppedAndReleasesEveryRead() throws Exception {
        TargetDataLine line = AudioSystem.getTargetDataLine(FORMAT, JavaSoundRecordingTest.ourMixer());
        ExecutorService readers = Executors.newCachedThreadPool();
        try {
            line.open(FORMAT, TestTone.RATE);
            line.start();
            byte[] some = new byte[1600];
            assertTrue(line.read(some, 0, some.length) > 0, "the line gave nothing");
            // Ten seconds of audio: the read waits until the server dies.
            Future<Integer> waiting = readers.submit(() -> line.read(new byte[20 * TestTone.RATE], 0, 20 * TestTone.RATE));

            String pid = new String(Files.readAllBytes(Paths.get(System.getenv("XDG_RUNTIME_DIR"), "pulse", "pid")),
                StandardCharsets.US_ASCII).trim();
            Process kill = new ProcessBuilder("kill", "-KILL", pid).inheritIO().start();
            assertEquals(0, kill.waitFor());
            waiting.get(GENEROUS_MS, TimeUnit.MILLISECONDS);
            assertFalse(line.isActive(), "the line goes on after its server died");

            line.start();
            assertFalse(line.isActive(), "a line with no server claims to be active");
            Future<Integer> nothingMoreCanCome = readers.submit(() -> line.read(new byte[1600], 0, 1600));
            nothingMoreCanCome.get(GENEROUS_MS, TimeUnit.MILLISECONDS);
            assertTrue(line.isOpen());
        } finally {
            line.close();
            readers.shutdownNow();
        }
    }
}
