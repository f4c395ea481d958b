package com.velk.orvanta.content.client.natives;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

/** The files of shared libraries that this process has mapped, read from /proc/self/maps. */
final class MappedLibraries {
    private MappedLibraries() {}

    /** Every distinct mapped file whose name is fileName. */
    static List<File> named(String fileName) throws IOException {
        return matching("/" + Pattern.quote(fileName) + "$");
    }

    /** Every distinct mapped file whose path has a match for the regular expression. */
    static List<File> matching(String regex) throws IOException {
        Pattern pattern = Pattern.compile(regex);
        return Files.readAllLines(Paths.get("/proc/self/maps")).stream()
            .map(line -> line.replaceFirst("^(\\S+\\s+){5}", "").trim())
            .filter(path -> pattern.matcher(path).find())
            .distinct()
            .map(File::new)
            .collect(Collectors.toList());
    }

    /** The directories on java.library.path that hold fileName. */
    static List<File> onLibraryPath(String fileName) {
        return Arrays.stream(System.getProperty("java.library.path").split(File.pathSeparator))
            .filter(dir -> !dir.isEmpty() && new File(dir, fileName).isFile())
            .map(File::new)
            .collect(Collectors.toList());
    }
}
