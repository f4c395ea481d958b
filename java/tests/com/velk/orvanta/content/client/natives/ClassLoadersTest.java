package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.velk.orvanta.content.client.TestTone;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Two sibling class loaders in one JVM, each with the client jar (an application reloaded in
 * place, two plugins that each bundle it): each loads the natives, and each records and grabs
 * while the other does. Run with the client jar on the class path, in tests/env/devices.sh.
 */
class ClassLoadersTest {
    private static final int SECOND = TestTone.RATE * 2;

    /** One loader's view of the client: its own AudioCapture and ScreenCapture classes. */
    private static final class Client implements AutoCloseable {
        final URLClassLoader loader;
        final Object capture;
        final Method read;
        final Method close;
        final Method grab;

        Client(URL jar) throws Exception {
            loader = new URLClassLoader(new URL[] {jar}, null);
            Class<?> audio = loader.loadClass("com.velk.orvanta.content.client.audio.AudioCapture");
            capture = audio.getMethod("open", int.class, int.class, int.class, int.class, int.class)
                .invoke(null, TestTone.RATE, 1, 16, 1600, 24);
            read = audio.getMethod("read", byte[].class);
            close = audio.getMethod("close");
            grab = loader.loadClass("com.velk.orvanta.content.client.appshare.ScreenCapture")
                .getMethod("grab", int.class, int.class, int.class, int.class);
        }

        /** Records that many bytes of 16-bit samples. */
        short[] record(int bytes) throws Exception {
            byte[] recorded = new byte[bytes];
            byte[] buffer = new byte[1600];
            for (int n = 0; n < bytes; n += buffer.length) {
                assertTrue((Boolean) read.invoke(capture, (Object) buffer), "a buffer was read");
                System.arraycopy(buffer, 0, recorded, n, buffer.length);
            }
            return TestTone.samples(recorded, bytes);
        }

        int[] grab() throws Exception {
            return (int[]) grab.invoke(null, 0, 0, 4, 4);
        }

        @Override
        public void close() throws Exception {
            close.invoke(capture);
            loader.close();
        }
    }

    @Test
    void siblingLoadersRecordAndGrabAtOnceAndCloseApart() throws Exception {
        URL jar = NativeLoader.class.getProtectionDomain().getCodeSource().getLocation();
        ExecutorService threads = Executors.newFixedThreadPool(2);
        try (Client second = new Client(jar)) {
            Client first = new Client(jar);
            assertNotSame(first.read.getDeclaringClass(), second.read.getDeclaringClass(), "test setup: two loaders");
            Future<short[]> firstHeard = threads.submit(() -> first.record(2 * SECOND));
            Future<short[]> secondHeard = threads.submit(() -> second.record(2 * SECOND));
            TestTone.assertContinuous(firstHeard.get(60, TimeUnit.SECONDS), TestTone.RATE);
            TestTone.assertContinuous(secondHeard.get(60, TimeUnit.SECONDS), TestTone.RATE);
            assertEquals(16, first.grab().length);
            assertEquals(16, second.grab().length);

            // Closing one loader's capture leaves the other's recording.
            first.close();
            TestTone.assertContinuous(second.record(2 * SECOND), TestTone.RATE);
            assertEquals(16, second.grab().length);
        } finally {
            threads.shutdownNow();
        }
    }
}
