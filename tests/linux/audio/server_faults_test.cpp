// The real backend when the server misbehaves or the source goes silent or away, through the
// exported functions and waveIn*: nothing may hang, and every close gives back the device and
// its server connection (a file descriptor and a loop thread) before it returns.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <mmsystem.h>

#include "elapsed.h"
#include "microphone_fixture.h"
#include "private_server.h"
#include "process_census.h"

namespace {

// 8000 Hz mono 16-bit: 16 000 bytes a second.
constexpr jint kSecond = 16000;

// 8000 Hz mono 16-bit, on the environment's server or on one of the test's own.
class ServerFaultTest : public MicrophoneTest {
protected:
    jint open(jint bufferSize, jint bufferCount) {
        return MicrophoneTest::open(Format{8000, 1, 16}, bufferSize, bufferCount);
    }
    // libpulse loads once and for good, and a first connection sets up what it keeps: counts of
    // descriptors and threads start after one capture.
    void warmUp(jint bufferSize, jint bufferCount) {
        jint handle = open(bufferSize, bufferCount);
        ASSERT_NE(handle, 0);
        close(handle);
    }
};

// A dropped connection or loop keeps a descriptor or a thread per cycle.
TEST_F(ServerFaultTest, OpenCloseCyclesKeepNoDescriptorOrThread) {
    warmUp(1600, 4);
    ProcessCensus before;
    for (int i = 0; i < 200; ++i) {
        jint handle = open(1600, 4);
        ASSERT_NE(handle, 0) << "cycle " << i;
        close(handle);
    }
    ProcessCensus after;
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
}

// Nothing arrives from a suspended sink's monitor: a reader waits on a 1 s buffer that never
// fills, and close must still return at once with the device and the connection gone.
TEST_F(ServerFaultTest, CloseOfASilentSourceWithABlockedReaderReleasesEverythingAtOnce) {
    PrivateServer server(true);
    ASSERT_TRUE(server.running());
    warmUp(kSecond, 2);
    ASSERT_TRUE(server.pactl("suspend-sink 0 1"));
    ProcessCensus before;
    jint handle = open(kSecond, 2);
    ASSERT_NE(handle, 0);
    jbyteArray dest = jni.newByteArray(kSecond);
    std::atomic<jint> result{-1};
    std::thread reader([&] { result = read(handle, dest, kSecond); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(result, -1) << "a buffer came from the suspended sink";
    // A close that waits for the buffer, or for the reader, waits for good: its 2 s bound.
    EXPECT_LT(millisecondsTaken([&] { close(handle); }), 1000);
    ProcessCensus after;
    reader.join();
    EXPECT_TRUE(result == 0 || result == 1) << result;
    EXPECT_EQ(after.fds, before.fds) << "the connection outlived close";
    // The reader may not have ended yet; the capture's loop thread must have.
    EXPECT_LE(after.threads, before.threads + 1) << "the loop thread outlived close";
}

// A server that stops answering mid-capture is a device that hangs: close waits for nothing the
// server would have to say, so it still returns at once and lets go of the connection.
TEST_F(ServerFaultTest, CloseBesideAServerThatStoppedAnsweringStaysBounded) {
    PrivateServer server(true);
    ASSERT_TRUE(server.running());
    warmUp(kSecond, 2);
    ProcessCensus before;
    jint handle = open(kSecond, 2);
    ASSERT_NE(handle, 0);
    jbyteArray dest = jni.newByteArray(kSecond);
    std::thread reader([&] { read(handle, dest, kSecond); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.pause();
    auto closing = std::async(std::launch::async, [&] { return millisecondsTaken([&] { close(handle); }); });
    bool returned = closing.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    ProcessCensus after;
    server.resume();
    long ms = closing.get();
    reader.join();
    EXPECT_TRUE(returned) << "close waited for the stopped server";
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(after.fds, before.fds) << "the connection outlived close";
}

// Captures share the server connection, so they lose it together: every reader is woken, and the
// next open, while they are still open, connects afresh instead of reusing the dead connection.
TEST_F(ServerFaultTest, ServerKilledBeneathSeveralCapturesWakesEveryReaderAndTheNextOpenReconnects) {
    constexpr int kCaptures = 3;
    jint handles[kCaptures];
    std::atomic<jint> last[kCaptures];
    std::vector<std::thread> readers;
    auto ended = [&] { return last[0] != -1 && last[1] != -1 && last[2] != -1; };
    {
        PrivateServer server(true);
        ASSERT_TRUE(server.running());
        for (int i = 0; i < kCaptures; ++i) {
            handles[i] = open(1600, 4);
            ASSERT_NE(handles[i], 0);
            last[i] = -1;
        }
        for (int i = 0; i < kCaptures; ++i)
            readers.emplace_back([&, i, dest = jni.newByteArray(1600)] {
                jint r;
                while ((r = read(handles[i], dest, 1600)) == 0) {
                }
                last[i] = r;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        server.kill();
        for (int i = 0; i < 100 && !ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(ended()) << "a reader was not woken";
    }
    if (!ended())
        for (jint handle : handles) close(handle);  // wakes them, so that the test ends
    for (std::thread& reader : readers) reader.join();
    for (auto& result : last) EXPECT_EQ(result, 6) << "MMSYSERR_NODRIVER from the re-queue";

    PrivateServer next(true);
    ASSERT_TRUE(next.running());
    jint fresh = open(1600, 4);
    EXPECT_NE(fresh, 0) << "the open took the dead connection";
    jbyteArray dest = jni.newByteArray(1600);
    EXPECT_EQ(read(fresh, dest, 1600), 0);
    close(fresh);
    for (jint handle : handles) close(handle);
}

// A server that takes the connection and never says a word: open gives up at its deadline.
TEST_F(ServerFaultTest, ServerThatNeverAnswersOpensNothingWithinItsDeadline) {
    char dir[] = "/tmp/mute-server.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/native";
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    std::vector<int> accepted;
    std::thread acceptor([&] {
        for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;) accepted.push_back(fd);
    });
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
    jint handle = -1;
    // The deadline is 3 s; a loaded machine adds little to it, a missing one for ever.
    long ms = millisecondsTaken([&] { handle = open(1600, 4); });
    shutdown(listener, SHUT_RDWR);
    acceptor.join();
    ::close(listener);
    EXPECT_GE(accepted.size(), 1u) << "the backend never reached the server";
    for (int fd : accepted) ::close(fd);
    unlink(path.c_str());
    rmdir(dir);
    EXPECT_EQ(handle, 0);
    EXPECT_LT(ms, 10000);
}

// The source goes while the server stays: the stream fails, and every queued buffer comes back
// with a notice, so no reader waits in vain.
TEST_F(ServerFaultTest, UnloadedSourceReturnsEveryQueuedBuffer) {
    PrivateServer server(true);
    ASSERT_TRUE(server.running());
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT),
              MMSYSERR_NOERROR);
    static char buffers[4][kSecond * 10];
    WAVEHDR headers[4] = {};
    for (int i = 0; i < 4; ++i) {
        headers[i].lpData = buffers[i];
        headers[i].dwBufferLength = sizeof(buffers[i]);
        ASSERT_EQ(waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ResetEvent(event);
    ASSERT_TRUE(server.pactl("unload-module module-null-sink"));
    auto doneCount = [&] {
        int done = 0;
        for (WAVEHDR& header : headers) done += (std::atomic_ref<DWORD>(header.dwFlags).load() & WHDR_DONE) != 0;
        return done;
    };
    for (int i = 0; i < 100 && doneCount() < 4; ++i) WaitForSingleObject(event, 50);
    EXPECT_EQ(doneCount(), 4) << "queued buffers stayed with a stream that failed";
    EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    waveInReset(device);
    for (WAVEHDR& header : headers) waveInUnprepareHeader(device, &header, sizeof(WAVEHDR));
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    CloseHandle(event);
}

}  // namespace
