package com.velk.orvanta.content.client.audio;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;

/**
 * The program that {@link HeldCaptureThreadTest} runs under the debugger. For each line "open"
 * on standard input it opens a capture of 50 ms buffers and reads it in a thread of its own; on
 * the next line it closes the capture from this thread and prints how long close took; on the
 * line after that it waits for the reader and prints whether it is still stuck. At the end of
 * input it prints "survived".
 */
public final class CloseWindowChild {
    private CloseWindowChild() {}

    public static void main(String[] args) throws Exception {
        BufferedReader commands = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        for (int round = 0; "open".equals(commands.readLine()); round++) {
            AudioCapture mic = AudioCapture.open(16000, 1, 8, 800, 4);
            Thread reader = new Thread(() -> {
                byte[] buffer = new byte[mic.bufferSize()];
                try {
                    while (mic.read(buffer)) {
                        // Only the end of the capture matters here.
                    }
                } catch (CaptureException e) {
                    throw new IllegalStateException(e);
                }
            });
            reader.start();
            commands.readLine();
            long start = System.nanoTime();
            mic.close();
            System.out.println("round " + round + " close_ms=" + (System.nanoTime() - start) / 1_000_000);
            commands.readLine();
            reader.join(5_000);
            System.out.println("round " + round + " reader_stuck=" + reader.isAlive());
        }
        System.out.println("survived");
    }
}
