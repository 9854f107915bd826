// The C++ run-time that Halvenor.exe uses, compiled here by our own compiler for the 386.
//
// Debian's prebuilt libstdc++.a and libgcc_eh.a are built for the Pentium Pro and hold its
// conditional moves (CMOV), which the processors before it, the 386, 486 and Pentium among
// them, reject as illegal instructions. So the image links no code from either: the
// program is built without C++ exceptions, and what it needs of the library is here.
#include <windows.h>

#include <cstddef>
#include <new>
#include <string>

#include "exit_codes.h"

// The one template the program uses from the library. libstdc++'s headers declare it an
// extern template, which would take every member from the prebuilt archive.
template class std::basic_string<char>;

namespace {

// Out of memory, or a string asked to grow past its maximum or built from a null pointer:
// nothing in the program can go on from there. End at once and quietly, as msvcrt's abort
// would.
[[noreturn]] void EndAsAbortWould() { ExitProcess(kExitAborted); }

}  // namespace

// The compiler relies on a throwing operator new never returning null, so running out of
// memory ends here. Every Windows has the process heap, and its blocks are aligned for any
// type the program keeps.
void* operator new(std::size_t size) {
    if (void* block = HeapAlloc(GetProcessHeap(), 0, size)) return block;
    EndAsAbortWould();
}

// Windows 95's HeapFree does not accept a null block.
void operator delete(void* block) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

// Where the string members report a length or position error, which the library would throw.
namespace std {

void __throw_bad_alloc() { EndAsAbortWould(); }
void __throw_logic_error(const char*) { EndAsAbortWould(); }
void __throw_length_error(const char*) { EndAsAbortWould(); }
void __throw_out_of_range_fmt(const char*, ...) { EndAsAbortWould(); }

}  // namespace std
