// Where Halvenor.exe gets its USER32 and ADVAPI32 functions from: the system folder, and only
// there.
//
// The program runs as an administrator, often from a folder others can write to. Windows
// looks for a DLL it loads by bare name in the program's folder first, and on Windows 2000
// and XP lpk.dll and usp10.dll are not known DLLs: USER32 loads them that way while it starts,
// which for a program that imports USER32 happens before its first instruction. In 2011
// worms copied both into every folder that held a program. So the image imports from KERNEL32
// alone, and before any other DLL comes in, this start
//   - refuses to run where <program>.local would redirect DLL loads, full paths included,
//     into the program's folder (Windows 2000 and later, when the image has no manifest);
//   - keeps the search off the current directory, and where Windows can, off the program's
//     folder;
//   - loads the DLLs that USER32 and its helpers load by bare name from the system folder by
//     full path first, so that a later load by name finds them already there;
//   - loads USER32 and ADVAPI32 by full path and fills in the pointers through which the
//     compiler calls their functions, __imp__Name@bytes, as an import table would. The
//     program's code calls every function by its own name and knows nothing of this.
#include <windows.h>

namespace {

// Exit codes, beside 1, 2 and 4 (a text that cannot be loaded) and 3 (out of memory).
constexpr UINT kRedirected = 5;    // <program>.local exists
constexpr UINT kUnbound = 6;       // USER32, ADVAPI32 or one of their functions is missing

enum Dll { kUser32, kAdvapi32 };

struct Binding {
    Dll dll;
    const char* name;
    FARPROC* slot;
};

// Every function of these two DLLs the program calls, each with its line (and sources for
// Windows 95 and NT 4.0) in tests/release/imports.txt. A function missing here fails the link.
#define HALVENOR_BOUND(X)                        \
    X(kUser32, DialogBoxParamA, 20)              \
    X(kUser32, EndDialog, 8)                     \
    X(kUser32, ExitWindowsEx, 8)                 \
    X(kUser32, GetDesktopWindow, 0)              \
    X(kUser32, GetWindowRect, 8)                 \
    X(kUser32, LoadStringA, 16)                  \
    X(kUser32, MessageBoxA, 16)                  \
    X(kUser32, SetDlgItemTextA, 12)              \
    X(kUser32, SetWindowPos, 28)                 \
    X(kUser32, SetWindowTextA, 8)                \
    X(kAdvapi32, AdjustTokenPrivileges, 24)      \
    X(kAdvapi32, LookupPrivilegeValueA, 12)      \
    X(kAdvapi32, OpenProcessToken, 12)           \
    X(kAdvapi32, RegCloseKey, 4)                 \
    X(kAdvapi32, RegCreateKeyExA, 36)            \
    X(kAdvapi32, RegOpenKeyExA, 20)              \
    X(kAdvapi32, RegQueryValueExA, 24)           \
    X(kAdvapi32, RegSetValueExA, 24)

#define HALVENOR_SLOT(dll, name, bytes) FARPROC bound_##name __asm__("__imp__" #name "@" #bytes) = nullptr;
#define HALVENOR_ROW(dll, name, bytes) {dll, #name, &bound_##name},

}  // namespace

// The pointers must keep the very names the compiler calls through, outside any namespace.
extern "C" {
HALVENOR_BOUND(HALVENOR_SLOT)
}

namespace {

const Binding kBindings[] = {HALVENOR_BOUND(HALVENOR_ROW)};

// What USER32, GDI32 and IMM32 load by bare name as a GUI program starts, on the Windows the
// program runs on: lpk.dll first, since USER32 loads it while it starts, which the loads
// below set off; usp10.dll, which lpk.dll brings in; imm32.dll, which USER32 loads as it
// starts on XP; uxtheme.dll, dwmapi.dll and version.dll, which the installers that face the
// same attack load ahead for the same reason. A DLL this Windows lacks is passed over.
const char* const kPreloads[] = {"lpk", "usp10", "imm32", "uxtheme", "dwmapi", "version"};

// The system folder with a backslash, and room behind it for a name; empty if it does not fit.
struct SystemPath {
    char text[MAX_PATH + 16];
    UINT folder;

    SystemPath() : folder(GetSystemDirectoryA(text, MAX_PATH)) {
        if (folder >= MAX_PATH) folder = 0;
        if (folder && text[folder - 1] != '\\') text[folder++] = '\\';
    }

    // The full path of name.dll, or null if the system folder is unknown.
    const char* Of(const char* name) {
        if (!folder) return nullptr;
        UINT at = folder;
        while (*name) text[at++] = *name++;
        for (const char* suffix = ".dll"; *suffix;) text[at++] = *suffix++;
        text[at] = '\0';
        return text;
    }
};

bool RedirectionFilePresent() {
    char path[MAX_PATH + sizeof(".local")];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A name cut short cannot be checked; Windows of this age starts no program that long.
    if (length == 0 || length >= MAX_PATH) return true;
    for (const char* suffix = ".local"; *suffix;) path[length++] = *suffix++;
    path[length] = '\0';
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Windows 8, and Vista and 7 with KB 2533623, can take the program's folder out of the search
// for good. The installers skip Vista, where the shell's link object cannot be created after
// it (7-Zip's installer stub says so); this program creates no COM object. SetDllDirectoryA
// (XP SP1 on) with an empty text takes the current directory out. Neither exists on the
// oldest systems, so both are looked up, never imported.
void NarrowSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // GCC takes a detour through void (*)() as a cast it need not warn about.
    using Untyped = void (*)();
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    using SetDirectory = BOOL(WINAPI*)(LPCSTR);
    auto setDefault = reinterpret_cast<SetDefaultDirectories>(
        reinterpret_cast<Untyped>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    auto setDirectory = reinterpret_cast<SetDirectory>(
        reinterpret_cast<Untyped>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (setDirectory) setDirectory("");
}

}  // namespace

extern "C" void LoadSystemDlls() {
    if (RedirectionFilePresent()) ExitProcess(kRedirected);
    // A CD drive without a disc, or any other drive that is not ready, fails quietly instead
    // of asking the user with a box of the system's.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    NarrowSearch();

    SystemPath system;
    // The altered search path makes Windows look for what each of these imports in the system
    // folder first, not the program's. A load that fails only loses its preload, so a Windows
    // that refused the flag would start as before.
    for (const char* name : kPreloads) {
        if (const char* path = system.Of(name)) LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    // Known DLLs on NT, whose own imports Windows takes from its known copies; a plain load by
    // full path is enough, and every Windows from 95 on has it.
    HMODULE dlls[2] = {};
    const char* const names[2] = {"user32", "advapi32"};
    for (int dll = kUser32; dll <= kAdvapi32; ++dll) {
        const char* path = system.Of(names[dll]);
        dlls[dll] = path ? LoadLibraryA(path) : nullptr;
        if (!dlls[dll]) ExitProcess(kUnbound);
    }
    // Windows would refuse to start a program whose import is missing; calling a null pointer
    // instead would be worse.
    for (const Binding& binding : kBindings) {
        *binding.slot = GetProcAddress(dlls[binding.dll], binding.name);
        if (!*binding.slot) ExitProcess(kUnbound);
    }
}
