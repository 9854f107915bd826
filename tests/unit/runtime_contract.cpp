// Its own executable: the run-time that Halvenor.exe carries in place of a library's, held to
// what callers of the C and C++ library functions rely on. The program's texts reach few of
// the cases where a wrong copy or comparison shows, and memcpy and memset are linked only
// once the compiler chooses to call them, so nothing else would notice.
//
// The C functions are built here under other names, so that they do not replace the test
// process's own; the start-up code with them runs against the Win32 double. The C++ run-time's
// operator new and delete do replace the process's, through the double's heap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_win32.h"

#define memcpy RuntimeMemcpy
#define memmove RuntimeMemmove
#define memset RuntimeMemset
#define memcmp RuntimeMemcmp
#define memchr RuntimeMemchr
#define strlen RuntimeStrlen
#define WinMainCRTStartup RuntimeStart
#define __CTOR_LIST__ g_constructors
#include "runtime/c_runtime.cpp"
#undef memcpy
#undef memmove
#undef memset
#undef memcmp
#undef memchr
#undef strlen
#undef WinMainCRTStartup
#undef __CTOR_LIST__

// The linker's layout of the constructor list: -1, the constructors, 0.
extern "C" {
void (*g_constructors[8])() = {};
}

namespace {

std::string g_constructed;  // which constructors ran, in order

using Bytes = std::vector<unsigned char>;

// Distinct bytes, the high ones among them, so that a byte copied from the wrong place or
// compared as a signed char shows.
Bytes Pattern(std::size_t size, unsigned char first) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(first + 37 * i);
    return bytes;
}

// Lengths 0 and 1, and longer ones across the word sizes a faster copy would step by.
constexpr std::size_t kLengths[] = {0, 1, 2, 3, 4, 7, 8, 9, 33};
constexpr unsigned char kFence = 0xEE;  // around every target; must stay as it is

TEST(OwnRuntime, MemoryAndStringFunctionsKeepTheLibraryContract) {
    for (const std::size_t n : kLengths) {
        SCOPED_TRACE("length " + std::to_string(n));
        const Bytes source = Pattern(n, 0xF1);
        const Bytes fenced = [&] {
            Bytes expected(n + 2, kFence);
            std::copy(source.begin(), source.end(), expected.begin() + 1);
            return expected;
        }();

        Bytes target(n + 2, kFence);
        EXPECT_EQ(RuntimeMemcpy(&target[1], source.data(), n), &target[1]);
        EXPECT_EQ(target, fenced) << "memcpy";

        target.assign(n + 2, kFence);
        EXPECT_EQ(RuntimeMemmove(&target[1], source.data(), n), &target[1]);
        EXPECT_EQ(target, fenced) << "memmove, apart";

        // The n bytes at 4 moved by shift within one buffer, both ways, as if through a copy.
        for (const int shift : {-4, -3, -1, 0, 1, 3, 4}) {
            Bytes buffer = Pattern(n + 8, 0x81);
            Bytes expected = buffer;
            std::copy(buffer.begin() + 4, buffer.begin() + 4 + static_cast<std::ptrdiff_t>(n),
                      expected.begin() + 4 + shift);
            EXPECT_EQ(RuntimeMemmove(&buffer[4 + shift], &buffer[4], n), &buffer[4 + shift]);
            EXPECT_EQ(buffer, expected) << "memmove by " << shift;
        }

        target.assign(n + 2, kFence);
        EXPECT_EQ(RuntimeMemset(&target[1], 0x1A5, n), &target[1]);  // the value as unsigned char
        Bytes set(n + 2, 0xA5);
        set.front() = set.back() = kFence;
        EXPECT_EQ(target, set) << "memset";

        EXPECT_EQ(RuntimeMemcmp(source.data(), fenced.data() + 1, n), 0) << "memcmp, equal";
        if (n > 0) {
            // Differing only in the last byte, 0x01 against 0xFF: below, and above the other way.
            Bytes low = source, high = source;
            low.back() = 0x01;
            high.back() = 0xFF;
            EXPECT_LT(RuntimeMemcmp(low.data(), high.data(), n), 0) << "memcmp";
            EXPECT_GT(RuntimeMemcmp(high.data(), low.data(), n), 0) << "memcmp";
        }

        Bytes letters(n, 'a');
        if (n > 0) {
            letters.back() = 0xC8;
            EXPECT_EQ(RuntimeMemchr(letters.data(), 0xC8, n), &letters.back()) << "memchr, the last byte";
        }
        EXPECT_EQ(RuntimeMemchr(letters.data(), 'b', n), nullptr) << "memchr, absent";

        const std::string text(n, 'x');
        EXPECT_EQ(RuntimeStrlen(text.c_str()), n) << "strlen";
    }
}

TEST(OwnRuntimeDeathTest, StartUpRunsEachConstructorOnceFromTheLastToTheFirst) {
    static void (*const recorders[])() = {
        [] { g_constructed += '1'; },
        [] { g_constructed += '2'; },
        [] { g_constructed += '3'; },
    };
    for (std::size_t count = 0; count <= 3; ++count) {
        SCOPED_TRACE(std::to_string(count) + " constructors");
        g_constructors[0] = reinterpret_cast<void (*)()>(std::intptr_t{-1});
        for (std::size_t i = 0; i < count; ++i) g_constructors[1 + i] = recorders[i];
        g_constructors[1 + count] = nullptr;
        g_constructed.clear();
        std::string order = "constructed \\[S";
        for (std::size_t i = count; i > 0; --i) order += std::to_string(i);
        EXPECT_EXIT(RuntimeStart(), testing::ExitedWithCode(7), order + "\\]$");
    }
}

TEST(OwnRuntimeDeathTest, OperatorNewEndsWithCode3WhenTheHeapRefuses) {
    EXPECT_EXIT(static_cast<void>(::operator new(fake::kHeapLimit + 1)), testing::ExitedWithCode(3), "");
}

TEST(OwnRuntime, OperatorDeleteHandsTheHeapOnlyRealBlocks) {
    // Every form of new with each delete that may free its blocks. Under AddressSanitizer a
    // block that some other allocator gave is reported as freed by the wrong one.
    struct Form {
        const char* name;
        void* (*allocate)(std::size_t);
        void (*release)(void*);
    } const forms[] = {
        {"new, delete", [](std::size_t n) { return ::operator new(n); }, [](void* p) { ::operator delete(p); }},
        {"new, sized delete", [](std::size_t n) { return ::operator new(n); },
         [](void* p) { ::operator delete(p, 16); }},
        {"nothrow new, delete", [](std::size_t n) { return ::operator new(n, std::nothrow); },
         [](void* p) { ::operator delete(p); }},
        {"nothrow new, nothrow delete", [](std::size_t n) { return ::operator new(n, std::nothrow); },
         [](void* p) { ::operator delete(p, std::nothrow); }},
        {"new[], delete[]", [](std::size_t n) { return ::operator new[](n); }, [](void* p) { ::operator delete[](p); }},
        {"new[], sized delete[]", [](std::size_t n) { return ::operator new[](n); },
         [](void* p) { ::operator delete[](p, 16); }},
        {"nothrow new[], delete[]", [](std::size_t n) { return ::operator new[](n, std::nothrow); },
         [](void* p) { ::operator delete[](p); }},
        {"nothrow new[], nothrow delete[]", [](std::size_t n) { return ::operator new[](n, std::nothrow); },
         [](void* p) { ::operator delete[](p, std::nothrow); }},
    };
    struct Case {
        const char* name;
        bool null;
        int frees;
    } const cases[] = {
        {"null", true, 0},
        {"a block", false, 1},
    };
    for (const Form& form : forms) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(form.name) + ", " + c.name);
            void* block = c.null ? nullptr : form.allocate(16);
            const int before = fake::heap.frees;
            form.release(block);
            EXPECT_EQ(fake::heap.frees - before, c.frees);
        }
    }
}

}  // namespace

// GoogleTest and the C++ library allocate with the other forms too, and a sanitizer brings
// each form the test process does not: a block from the sanitizer's nothrow new would then
// reach the run-time's delete and the double's HeapFree. So every form that pairs with the
// run-time's delete takes its blocks from the same heap.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
void operator delete[](void* block) noexcept { ::operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { ::operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }

// The image binds its system DLLs here; the start must do it before any constructor runs.
extern "C" void LoadSystemDlls() { g_constructed += 'S'; }

// Ends the start-up's process with 7 after telling which constructors ran.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::fputs(("constructed [" + g_constructed + "]").c_str(), stderr);
    return 7;
}
