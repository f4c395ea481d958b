package com.velk.orvanta.content.client.natives;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/** Which of the jar's folders a JVM loads, from its os.name and os.arch. */
class PlatformChoiceTest {
    private static final List<String> CARRIED = Arrays.asList("windows-x86", "windows-x86_64", "windows-aarch64",
        "linux-x86_64");

    @Test
    void windowsJvmsGetTheirOwnArchitecture() {
        for (String arch : new String[] {"x86", "i386", "i486", "i586", "i686"}) {
            assertEquals("windows-x86", NativeLoader.platformFolder("Windows 10", arch, CARRIED), arch);
        }
        assertEquals("windows-x86_64", NativeLoader.platformFolder("Windows 11", "amd64", CARRIED));
        assertEquals("windows-x86_64", NativeLoader.platformFolder("Windows Server 2022", "x86_64", CARRIED));
        assertEquals("windows-aarch64", NativeLoader.platformFolder("Windows 11", "aarch64", CARRIED));
        assertEquals("windows-aarch64", NativeLoader.platformFolder("Windows 11", "arm64", CARRIED));
        assertEquals("linux-x86_64", NativeLoader.platformFolder("Linux", "amd64", CARRIED));
    }

    @Test
    void anUnknownPlatformIsNamedBesideTheOnesCarried() {
        for (String[] platform : new String[][] {{"Linux", "riscv64"}, {"Linux", "aarch64"}, {"Mac OS X", "aarch64"},
                {"Windows 11", "riscv64"}, {"Linux", "x86"}}) {
            UnsatisfiedLinkError refused = assertThrows(UnsatisfiedLinkError.class,
                () -> NativeLoader.platformFolder(platform[0], platform[1], CARRIED));
            String message = refused.getMessage();
            assertTrue(message.contains("os.name=" + platform[0] + ", os.arch=" + platform[1]), message);
            assertTrue(message.contains("windows-x86, windows-x86_64, windows-aarch64, linux-x86_64"), message);
        }
    }

    @Test
    void theSystemsRefusalBecomesWhatToDo() {
        Path library = Paths.get("/opt/app/natives/libVoxcap.so");
        String missing = NativeLoader.whyNotLoaded(
            "/opt/app/natives/libVoxcap.so: libpulse.so.0: cannot open shared object file: No such file or directory", library);
        assertTrue(missing.startsWith("it needs the system library libpulse.so.0, which is not installed"), missing);
        String noexec = NativeLoader.whyNotLoaded(
            "/opt/app/natives/libVoxcap.so: failed to map segment from shared object", Paths.get("/tmp"));
        assertTrue(noexec.contains("noexec") && noexec.contains(NativeLoader.DIR_PROPERTY), noexec);
    }
}
