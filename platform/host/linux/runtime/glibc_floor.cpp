// What lets the shipped libraries load on glibc 2.28, though they are built against a newer one.
//
// The C++ runtime is linked in (static libstdc++ and libgcc), and with it, and with our own code,
// come references to symbols that glibc 2.30-2.36 added or moved into libc.so.6 under a new
// version. The link wraps those references (--wrap, see cmake/PortableLinux.cmake) and they end
// here: on the version every glibc since the architecture's first has, or on code of our own where
// no old version exists. libdl.so.2 and libpthread.so.0 are needed explicitly, since on glibc
// before 2.34 the old versions live there.
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <limits>

// Before 2.33 the stat calls were one entry point with the layout's version as first argument.
#if defined(__x86_64__)
#define GLIBC_FIRST "GLIBC_2.2.5"
#define GLIBC_CONDVAR "GLIBC_2.3.2"
#define STAT_LAYOUT 1
#elif defined(__aarch64__)
#define GLIBC_FIRST "GLIBC_2.17"
#define GLIBC_CONDVAR "GLIBC_2.17"
#define STAT_LAYOUT 0
#else
#error "name the first glibc version of this architecture"
#endif

#define PINNED(name, version) __asm__(".symver " #name "_pinned, " #name "@" version)

extern "C" {

void* dlopen_pinned(const char*, int);
void* dlsym_pinned(void*, const char*);
int dlclose_pinned(void*);
int pthread_once_pinned(pthread_once_t*, void (*)());
int pthread_key_create_pinned(pthread_key_t*, void (*)(void*));
int __pthread_key_create_pinned(pthread_key_t*, void (*)(void*));
int pthread_mutex_trylock_pinned(pthread_mutex_t*);
int pthread_create_pinned(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int pthread_join_pinned(pthread_t, void**);
int pthread_detach_pinned(pthread_t);
int __fxstat64(int, int, struct stat64*);
int pthread_cond_timedwait_pinned(pthread_cond_t*, pthread_mutex_t*, const timespec*);
PINNED(dlopen, GLIBC_FIRST);
PINNED(dlsym, GLIBC_FIRST);
PINNED(dlclose, GLIBC_FIRST);
PINNED(pthread_once, GLIBC_FIRST);
PINNED(pthread_key_create, GLIBC_FIRST);
PINNED(__pthread_key_create, GLIBC_FIRST);
PINNED(pthread_mutex_trylock, GLIBC_FIRST);
PINNED(pthread_create, GLIBC_FIRST);
PINNED(pthread_join, GLIBC_FIRST);
PINNED(pthread_detach, GLIBC_FIRST);
__asm__(".symver __fxstat64, __fxstat64@" GLIBC_FIRST);
PINNED(pthread_cond_timedwait, GLIBC_CONDVAR);

void* __wrap_dlopen(const char* file, int mode) { return dlopen_pinned(file, mode); }
void* __wrap_dlsym(void* library, const char* name) { return dlsym_pinned(library, name); }
int __wrap_dlclose(void* library) { return dlclose_pinned(library); }
int __wrap_pthread_once(pthread_once_t* once, void (*init)()) { return pthread_once_pinned(once, init); }
int __wrap_pthread_key_create(pthread_key_t* key, void (*destroy)(void*)) {
    return pthread_key_create_pinned(key, destroy);
}
int __wrap___pthread_key_create(pthread_key_t* key, void (*destroy)(void*)) {
    return __pthread_key_create_pinned(key, destroy);
}
int __wrap_pthread_mutex_trylock(pthread_mutex_t* mutex) { return pthread_mutex_trylock_pinned(mutex); }
int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*run)(void*), void* argument) {
    return pthread_create_pinned(thread, attributes, run, argument);
}
int __wrap_pthread_join(pthread_t thread, void** result) { return pthread_join_pinned(thread, result); }
int __wrap_pthread_detach(pthread_t thread) { return pthread_detach_pinned(thread); }
int __wrap_fstat64(int fd, struct stat64* status) { return __fxstat64(STAT_LAYOUT, fd, status); }

// std::condition_variable waits for deadlines on the steady clock; before 2.30 glibc had only
// deadlines on the condition variable's own clock, the realtime clock for the default one. The
// time left is carried over, as libstdc++ itself does where pthread_cond_clockwait is missing.
// Seconds and nanoseconds apart: in nanoseconds alone, a far deadline (time_point::max()) wraps
// into the past, or into a timespec the wait refuses.
int __wrap_pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t clock,
                                  const timespec* deadline) {
    const long second = 1000000000;
    timespec now, real;
    clock_gettime(clock, &now);
    clock_gettime(CLOCK_REALTIME, &real);
    time_t left_s;
    long left_ns = deadline->tv_nsec - now.tv_nsec;
    if (__builtin_sub_overflow(deadline->tv_sec, now.tv_sec, &left_s)) left_s = -1;
    if (left_ns < 0) {
        left_ns += second;
        left_s--;
    }
    if (left_s < 0) left_s = left_ns = 0;
    real.tv_nsec += left_ns;
    if (real.tv_nsec >= second) {
        real.tv_nsec -= second;
        real.tv_sec++;
    }
    if (__builtin_add_overflow(real.tv_sec, left_s, &real.tv_sec)) real = {std::numeric_limits<time_t>::max(), second - 1};
    return pthread_cond_timedwait_pinned(cond, mutex, &real);
}

// libstdc++ skips atomic reference counting while this says the process has one thread; our own,
// never set, keeps it atomic always, which is right for a library inside a JVM.
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;

// The unwinder of a static libgcc asks glibc 2.35's _dl_find_object for the unwind tables of the
// object holding an address; this finds them the way it did before, through dl_iterate_phdr.
__attribute__((visibility("hidden"))) int _dl_find_object(void* address, dl_find_object* result) {
    struct Search {
        uintptr_t address;
        dl_find_object* result;
    } search{reinterpret_cast<uintptr_t>(address), result};
    auto visit = [](dl_phdr_info* info, size_t, void* data) -> int {
        auto* search = static_cast<Search*>(data);
        uintptr_t low = UINTPTR_MAX, high = 0;
        void* eh_frame = nullptr;
        bool holds = false;
        for (int i = 0; i < info->dlpi_phnum; i++) {
            const ElfW(Phdr)& segment = info->dlpi_phdr[i];
            uintptr_t start = info->dlpi_addr + segment.p_vaddr;
            if (segment.p_type == PT_LOAD) {
                low = std::min(low, start);
                high = std::max(high, start + segment.p_memsz);
                holds = holds || (search->address >= start && search->address - start < segment.p_memsz);
            } else if (segment.p_type == PT_GNU_EH_FRAME) {
                eh_frame = reinterpret_cast<void*>(start);
            }
        }
        if (!holds) return 0;
        *search->result = dl_find_object{};
        search->result->dlfo_map_start = reinterpret_cast<void*>(low);
        search->result->dlfo_map_end = reinterpret_cast<void*>(high);
        search->result->dlfo_eh_frame = eh_frame;
        return 1;
    };
    return dl_iterate_phdr(visit, &search) ? 0 : -1;
}
}
