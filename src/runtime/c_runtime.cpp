// The C run-time that Halvenor.exe carries inside itself, built into the Windows image only.
//
// The stock MinGW start-up imports MSVCRT.DLL, which Windows 95 and 95 OSR2 do not have, and
// CRTDLL.DLL, which they do have, is not a KnownDLL on NT: a copy planted beside the program
// would be loaded and run with the administrator's rights. So the image imports only KERNEL32,
// USER32 and ADVAPI32, and what the C++ run-time (libstdc++, libgcc) needs from a C library is
// here, over KERNEL32. Declarations come from the toolchain's own headers, so a definition
// that differs from what those libraries were built against does not compile.

// As when libgcc itself is built: the declarations without their inline Win32 bodies.
#define __GTHREAD_HIDE_WIN32API 1
#include <bits/gthr.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// ISO C promises room for 32. The unwinder's clean-up is the only handler registered today.
constexpr int kMaxExitHandlers = 32;
void (*g_exitHandlers[kMaxExitHandlers])();
int g_exitHandlerCount = 0;

}  // namespace

extern "C" {

// libgcc and libstdc++ lock, and keep their exception state per thread, only when this is
// non-zero: the MinGW convention for a program built with -mthreads. Halvenor runs one
// thread, so the unwinder and the exception state work without TLS slots or semaphores.
int _CRT_MT = 0;

// Where the run-time would record a per-thread destructor for a TLS key. Never called while
// _CRT_MT is 0; should it be, 0 is the success the caller reads. The one thread ends with the
// process, which frees what the destructor would.
int __mingwthr_key_dtor(unsigned long, void (*)(void*)) { return 0; }

// Built with -ffreestanding and without loop-pattern distribution, so that the compiler cannot
// turn these loops back into calls of the functions they define.
void* memcpy(void* to, const void* from, std::size_t size) {
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    while (size--) *out++ = *in++;
    return to;
}

void* memmove(void* to, const void* from, std::size_t size) {
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    if (reinterpret_cast<std::uintptr_t>(out) - reinterpret_cast<std::uintptr_t>(in) >= size) {
        while (size--) *out++ = *in++;  // the target does not start inside the source
    } else {
        while (size--) out[size] = in[size];
    }
    return to;
}

void* memset(void* to, int byte, std::size_t size) {
    auto* out = static_cast<unsigned char*>(to);
    while (size--) *out++ = static_cast<unsigned char>(byte);
    return to;
}

int memcmp(const void* left, const void* right, std::size_t size) {
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    for (; size; --size, ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
    }
    return 0;
}

void* memchr(const void* text, int byte, std::size_t size) {
    const auto* at = static_cast<const unsigned char*>(text);
    for (; size; --size, ++at) {
        if (*at == static_cast<unsigned char>(byte)) return const_cast<unsigned char*>(at);
    }
    return nullptr;
}

std::size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return static_cast<std::size_t>(end - text);
}

int strcmp(const char* left, const char* right) {
    const auto* a = reinterpret_cast<const unsigned char*>(left);
    const auto* b = reinterpret_cast<const unsigned char*>(right);
    while (*a && *a == *b) ++a, ++b;
    return *a < *b ? -1 : *a > *b;
}

// Every Windows has the process heap; a block from it is aligned as msvcrt's malloc aligns.
void* malloc(std::size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void* calloc(std::size_t count, std::size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * size);
}

// Windows 95's HeapFree does not accept a null block.
void free(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

// As msvcrt: a null block is a plain allocation, size 0 frees, a failure keeps the block.
void* realloc(void* block, std::size_t size) {
    if (!block) return malloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

// The unwinder calls this when its own tables are broken. End at once and quietly, with the
// exit code msvcrt's abort gives.
void abort() { ExitProcess(3); }

int atexit(void (*handler)()) {
    if (g_exitHandlerCount == kMaxExitHandlers) return -1;
    g_exitHandlers[g_exitHandlerCount++] = handler;
    return 0;
}

// Laid out by the linker script: -1, the constructors, 0. GCC's convention runs them from the
// last to the first, which puts the unwinder's frame registration (crtend.o) before ours.
extern void (*__CTOR_LIST__[])();

// The process starts here, on a stack that Windows aligns to 4 bytes only; GCC's code
// expects 16. WinMain reads only its instance: the program takes no options and opens no
// window of its own, so the command line and show mode are passed empty and default.
[[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
    std::size_t count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    for (; count > 0; --count) __CTOR_LIST__[count]();

    static char noOptions[] = "";
    const int result = WinMain(GetModuleHandleA(nullptr), nullptr, noOptions, SW_SHOWDEFAULT);

    while (g_exitHandlerCount > 0) g_exitHandlers[--g_exitHandlerCount]();
    ExitProcess(static_cast<UINT>(result));
}

}  // extern "C"

