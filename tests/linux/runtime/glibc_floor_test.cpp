// The stand-ins for newer glibc calls. pthread_cond_clockwait: a deadline on another clock
// becomes a wait of the same length, however far off or long past it is. _dl_find_object: the
// unwind tables it finds are the ones glibc's own finds.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <thread>

extern "C" int __wrap_pthread_cond_clockwait(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);
extern "C" int _dl_find_object(void*, dl_find_object*);
extern "C" int __wrap_fstat64(int, struct stat64*);

namespace {

struct Waiter {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;

    // Waits for `deadline`, woken by a signal sent once the wait has begun (the signaller needs
    // the mutex, which the wait alone gives up).
    int wait_woken(clockid_t clock, timespec deadline) {
        pthread_mutex_lock(&mutex);
        std::thread signaller([this] {
            pthread_mutex_lock(&mutex);
            pthread_cond_signal(&cond);
            pthread_mutex_unlock(&mutex);
        });
        int result = __wrap_pthread_cond_clockwait(&cond, &mutex, clock, &deadline);
        // A wait that ended without the signal is waited for once more, so the thread can end.
        if (result != 0) __wrap_pthread_cond_clockwait(&cond, &mutex, clock, &far_off);
        pthread_mutex_unlock(&mutex);
        signaller.join();
        return result;
    }

    timespec far_off = {time_t{1} << 40, 0};
};

timespec now(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t;
}

// std::chrono::steady_clock::time_point::max(), as libstdc++ hands it over.
const timespec latest_steady = {LLONG_MAX / 1000000000, LLONG_MAX % 1000000000};

TEST(CondClockwait, AFarDeadlineWaitsForTheSignal) {
    for (clockid_t clock : {CLOCK_MONOTONIC, CLOCK_REALTIME}) {
        Waiter waiter;
        EXPECT_EQ(waiter.wait_woken(clock, latest_steady), 0) << "clock " << clock;
        EXPECT_EQ(waiter.wait_woken(clock, {now(clock).tv_sec + 3600, 999999999}), 0) << "clock " << clock;
    }
}

TEST(CondClockwait, APassedDeadlineTimesOutAtOnce) {
    Waiter waiter;
    pthread_mutex_lock(&waiter.mutex);
    for (timespec deadline : {now(CLOCK_MONOTONIC), timespec{0, 0}, timespec{0, 999999999}, timespec{LLONG_MIN / 1000000000, 0}})
        EXPECT_EQ(__wrap_pthread_cond_clockwait(&waiter.cond, &waiter.mutex, CLOCK_MONOTONIC, &deadline), ETIMEDOUT);
    pthread_mutex_unlock(&waiter.mutex);
}

TEST(FStat64, SeesWhatTheCallSees) {
    struct stat64 ours{}, theirs{};
    ASSERT_EQ(__wrap_fstat64(STDERR_FILENO, &ours), 0);
    ASSERT_EQ(fstat64(STDERR_FILENO, &theirs), 0);
    EXPECT_EQ(ours.st_dev, theirs.st_dev);
    EXPECT_EQ(ours.st_ino, theirs.st_ino);
    EXPECT_EQ(ours.st_mode, theirs.st_mode);
    EXPECT_EQ(ours.st_rdev, theirs.st_rdev);
    errno = 0;
    EXPECT_EQ(__wrap_fstat64(-1, &ours), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(DlFindObject, FindsWhatGlibcFinds) {
    using Find = int (*)(void*, dl_find_object*);
    auto glibc = reinterpret_cast<Find>(dlsym(RTLD_DEFAULT, "_dl_find_object"));
    if (!glibc) GTEST_SKIP() << "this glibc has no _dl_find_object";
    int on_stack = 0;
    void* addresses[] = {reinterpret_cast<void*>(&now), reinterpret_cast<void*>(&clock_gettime),
                         reinterpret_cast<void*>(&testing::UnitTest::GetInstance), dlsym(RTLD_DEFAULT, "pthread_create")};
    for (void* address : addresses) {
        dl_find_object ours{}, theirs{};
        ASSERT_EQ(glibc(address, &theirs), 0);
        ASSERT_EQ(_dl_find_object(address, &ours), 0) << address;
        EXPECT_EQ(ours.dlfo_eh_frame, theirs.dlfo_eh_frame) << address;
        EXPECT_LE(ours.dlfo_map_start, address);
        EXPECT_GT(ours.dlfo_map_end, address);
    }
    dl_find_object none{};
    EXPECT_EQ(_dl_find_object(&on_stack, &none), -1);
}

}  // namespace
