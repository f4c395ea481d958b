// The restore token lets this user's programs share the screen unasked: it is read only from a
// regular file of the user's own, private to them, of a token's length. Anything else at that path
// is no token, at once: a FIFO must not hold the portal's worker waiting for a writer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "screen/portal/restore_token.h"

namespace {

class RestoreToken : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/restore-token-test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        file = folder + "/token";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // A token file as the backend keeps it, at `path`.
    static void write(const std::string& path, const std::string& text, mode_t mode = 0600) {
        std::ofstream(path) << text;
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    std::string folder, file;
};

const char* const token = "1b4e28ba-2fa1-11d2-883f-0016d3cca427";

TEST_F(RestoreToken, OursIsReadAndKeptPrivate) {
    write(file, std::string(token) + "\n");
    EXPECT_EQ(portal::read_restore_token(file), token);

    write(file, std::string(portal::restore_token_longest, 'a') + "\n");
    EXPECT_EQ(portal::read_restore_token(file).size(), portal::restore_token_longest);

    const mode_t was = umask(0377);  // would leave it 0400, which is refused
    portal::keep_restore_token(folder + "/cache/orvanta/token", "next");
    umask(was);
    EXPECT_EQ(portal::read_restore_token(folder + "/cache/orvanta/token"), "next");
}

TEST_F(RestoreToken, AFifoIsNoTokenAndIsNotWaitedFor) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return portal::read_restore_token(file); });
    // Generous for a busy machine: a read that does not wait takes microseconds.
    const bool returned = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) {
        // Release the reader stuck in open or read, so that the test can end.
        close(open(file.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_TRUE(returned) << "the reader waits for a writer that never comes";
    EXPECT_EQ(read.get(), "");
}

TEST_F(RestoreToken, ASymbolicLinkIsNoTokenAndIsReplacedNotWrittenThrough) {
    const std::string elsewhere = folder + "/elsewhere";
    write(elsewhere, std::string(token) + "\n");
    ASSERT_EQ(symlink(elsewhere.c_str(), file.c_str()), 0);
    EXPECT_EQ(portal::read_restore_token(file), "");

    portal::keep_restore_token(file, "next");
    EXPECT_EQ(portal::read_restore_token(elsewhere), token);
    EXPECT_EQ(portal::read_restore_token(file), "next");
}

TEST_F(RestoreToken, AFileOthersMayReadOrWriteIsNoToken) {
    for (mode_t mode : {0644, 0660, 0606, 0400, 0700, 04600}) {
        write(file, std::string(token) + "\n", mode);
        EXPECT_EQ(portal::read_restore_token(file), "") << std::oct << mode;
    }
}

TEST_F(RestoreToken, AnotherUsersFileIsNoToken) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    write(file, std::string(token) + "\n");
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(portal::read_restore_token(file), "");
}

TEST_F(RestoreToken, AnythingLongerThanATokenLineIsNoToken) {
    write(file, std::string(token) + "\n");
    ASSERT_EQ(truncate(file.c_str(), off_t{1} << 30), 0);  // sparse: a gigabyte of zeros after the line
    EXPECT_EQ(portal::read_restore_token(file), "");

    write(file, std::string(token) + "\n" + std::string(portal::restore_token_longest, 'a'));
    EXPECT_EQ(portal::read_restore_token(file), "");
    write(file, std::string(portal::restore_token_longest + 1, 'a') + "\n");
    EXPECT_EQ(portal::read_restore_token(file), "");
    write(file, "");
    EXPECT_EQ(portal::read_restore_token(file), "");
}

TEST_F(RestoreToken, DevicesAndFoldersAreNoToken) {
    EXPECT_EQ(portal::read_restore_token("/dev/zero"), "");
    EXPECT_EQ(portal::read_restore_token(folder), "");
    EXPECT_EQ(portal::read_restore_token(folder + "/missing"), "");
}

}  // namespace
