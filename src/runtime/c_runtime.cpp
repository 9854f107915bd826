// The C run-time that Halvenor.exe carries inside itself, built into the Windows image only.
//
// The stock MinGW start-up imports MSVCRT.DLL, which Windows 95 and 95 OSR2 do not have, and
// CRTDLL.DLL, which they do have, is not a KnownDLL on NT: a copy planted beside the program
// would be loaded and run with the administrator's rights. So the image imports only KERNEL32,
// USER32 and ADVAPI32, and the few C functions that the compiler and the string code call are
// here. Declarations come from the toolchain's own headers, so a definition that differs from
// what callers expect does not compile.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" {

// GCC may call memcpy, memmove, memset and memcmp from any code, as it documents for programs
// without a C library; the string code calls memchr and strlen. Built with -ffreestanding and
// without loop-pattern distribution, so that the compiler cannot turn these loops back into
// calls of the functions they define.
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

// Laid out by the linker script: -1, the constructors, 0. No object of the program needs one
// today, but one that did would otherwise go unbuilt without a word. GCC's convention runs
// them from the last to the first.
extern void (*__CTOR_LIST__[])();

// The process starts here, on a stack that Windows aligns to 4 bytes only; GCC's code
// expects 16. WinMain reads only its instance: the program takes no options and opens no
// window of its own, so the command line and show mode are passed empty and default.
void LoadSystemDlls();  // system_dlls.cpp
[[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
    LoadSystemDlls();
    std::size_t count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    for (; count > 0; --count) __CTOR_LIST__[count]();

    static char noOptions[] = "";
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, noOptions, SW_SHOWDEFAULT)));
}

}  // extern "C"
