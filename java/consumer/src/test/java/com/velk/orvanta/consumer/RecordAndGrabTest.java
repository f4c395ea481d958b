package com.velk.orvanta.consumer;

import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** Public: Maven runs it inside the application's module, which does not open it to JUnit. */
public class RecordAndGrabTest {
    @Test
    public void recordsTheToneAndGrabsTheScreen() throws Exception {
        String outcome = RecordAndGrab.run();
        assertTrue(outcome.startsWith("recorded a second of the tone"), outcome);
    }
}
