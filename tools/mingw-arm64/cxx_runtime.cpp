// The little of the C++ runtime that code built without exceptions or RTTI still calls: the global
// operator new and delete, and the helpers through which the library's headers report a misuse
// (an index out of range, a length too large). Without exceptions, each of those ends the program
// with its message, as an uncaught exception would.
#include <bits/functexcept.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void fail(const char* what, const char* detail) {
    std::fprintf(stderr, "terminate: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    std::abort();
}

void* allocate(std::size_t bytes) {
    void* memory = std::malloc(bytes ? bytes : 1);
    if (!memory) fail("std::bad_alloc", nullptr);
    return memory;
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes ? bytes : 1); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes ? bytes : 1); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace std {

void __throw_bad_alloc() { fail("std::bad_alloc", nullptr); }
void __throw_bad_array_new_length() { fail("std::bad_array_new_length", nullptr); }
void __throw_length_error(const char* what) { fail("std::length_error", what); }
void __throw_logic_error(const char* what) { fail("std::logic_error", what); }
void __throw_out_of_range(const char* what) { fail("std::out_of_range", what); }
void __throw_out_of_range_fmt(const char* what, ...) { fail("std::out_of_range", what); }
void __throw_invalid_argument(const char* what) { fail("std::invalid_argument", what); }
void __throw_bad_function_call() { fail("std::bad_function_call", nullptr); }

}  // namespace std
