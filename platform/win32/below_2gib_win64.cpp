// 64-bit Windows, on x86-64 and on ARM64 alike, places memory anywhere in a 128 TiB address
// space. NtAllocateVirtualMemory takes the count of leading address bits that must be zero: with
// 1, bits 63 to 31 are zero, so the memory lies below 2 GiB. It exists on every version of Windows
// (VirtualAlloc2, which can say the same, only from Windows 10 1803); it is looked up at run time
// so that the DLL links against KERNEL32 alone.
#include <below_2gib.h>

namespace {

using NtAllocateVirtualMemoryFn = LONG(NTAPI*)(HANDLE process, PVOID* base, ULONG_PTR zeroBits, PSIZE_T size,
                                               ULONG allocationType, ULONG protect);

constexpr ULONG_PTR kBelow2GiB = 1;

NtAllocateVirtualMemoryFn nt_allocate() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<NtAllocateVirtualMemoryFn>(
                       reinterpret_cast<void*>(GetProcAddress(ntdll, "NtAllocateVirtualMemory")))
                 : nullptr;
}

}  // namespace

void* allocate_below_2gib(SIZE_T bytes) {
    NtAllocateVirtualMemoryFn allocate = nt_allocate();
    PVOID base = nullptr;
    SIZE_T size = bytes;
    // Fresh pages come zero-filled. A failure is any negative NTSTATUS.
    if (!allocate || allocate(GetCurrentProcess(), &base, kBelow2GiB, &size, MEM_RESERVE | MEM_COMMIT,
                              PAGE_READWRITE) < 0)
        return nullptr;
    return base;
}

void free_below_2gib(void* memory) { VirtualFree(memory, 0, MEM_RELEASE); }
