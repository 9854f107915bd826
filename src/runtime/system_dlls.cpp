// Where Halvenor.exe gets its USER32 and ADVAPI32 functions from: the system folder, and only
// there.
//
// The program runs as an administrator, often from a folder others can write to. Windows
// looks for a DLL it loads by bare name in the program's folder first, and on Windows 2000
// and XP lpk.dll and usp10.dll are not known DLLs: USER32 loads them that way while it starts,
// which for a program that imports USER32 happens before its first instruction. In 2011
// worms copied both into every folder that held a program. So the image imports from KERNEL32
// alone, and before any other DLL comes in, this start
//   - refuses to run where a file named after the program would redirect DLL loads, full
//     paths included, into the program's folder: <program>.local or <program>.manifest;
//   - makes the system folder the current directory, and where Windows can, keeps the search
//     off the program's folder;
//   - loads the DLLs that USER32 and its helpers load by bare name from the system folder by
//     full path first, so that a later load by name finds them already there;
//   - loads USER32 and ADVAPI32 by full path and fills in the pointers through which the
//     compiler calls their functions, __imp__Name@bytes, as an import table would. The
//     program's code calls every function by its own name and knows nothing of this.
#include <windows.h>

#include "exit_codes.h"

namespace {

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

// The system folder with a backslash, and room behind it for a name. It becomes the current
// directory, which Windows 2000 and XP before SP1 search for a DLL ahead of the system folder
// and which a prompt or a shortcut may have left in any folder; no file the program opens is
// named relative to it. Without a system folder that can be made current, the program ends.
struct SystemPath {
    char text[MAX_PATH + 16];
    UINT folder;

    SystemPath() : folder(GetSystemDirectoryA(text, MAX_PATH)) {
        if (folder == 0 || folder >= MAX_PATH || !SetCurrentDirectoryA(text)) ExitProcess(kExitUnbound);
        if (text[folder - 1] != '\\') text[folder++] = '\\';
    }

    // The full path of name.dll.
    const char* Of(const char* name) {
        UINT at = folder;
        while (*name) text[at++] = *name++;
        for (const char* suffix = ".dll"; *suffix;) text[at++] = *suffix++;
        text[at] = '\0';
        return text;
    }
};

// Files beside the program that make Windows load DLLs from elsewhere than the system folder,
// whatever path the program gives. <program>.local makes it look in the program's folder
// first (Windows 98 SE, Me, 2000 and later, when the image has no manifest). The activation
// context of <program>.manifest comes ahead of the loaded modules and the known DLLs, so a
// file the manifest names is loaded even after the system's copy (XP and later; on XP it
// wins over a manifest inside the image, too). Either may be a folder as well.
const char* const kRedirectionSuffixes[] = {".local", ".manifest"};

// Whether any of them exists beside the program, or cannot be ruled out. NT looks for them
// under the program's name in Unicode, which GetModuleFileNameA spells with '?' wherever the
// ANSI code page lacks a character. Windows 95, 98 and Me work in the ANSI code page
// throughout, and their wide functions are stubs that fail; there, as KB 127991 warns, a
// failing call may leave no error code to tell why, so only a found file counts.
bool RedirectionFilePresent() {
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return true;
    const bool unicode = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    // Room behind the longest name GetModuleFileName gives for the longest suffix.
    WCHAR wide[MAX_PATH + 16];
    char* const narrow = reinterpret_cast<char*>(wide);
    const DWORD length = unicode ? GetModuleFileNameW(nullptr, wide, MAX_PATH)
                                 : GetModuleFileNameA(nullptr, narrow, MAX_PATH);
    for (const char* suffix : kRedirectionSuffixes) {
        DWORD at = length;
        for (const char* letter = suffix; *letter; ++letter, ++at) {
            if (unicode) wide[at] = static_cast<unsigned char>(*letter);
            else narrow[at] = *letter;
        }
        // These calls cannot look up a name longer than MAX_PATH, nor one cut short.
        if (length == 0 || at >= MAX_PATH) return true;
        if (unicode) wide[at] = 0;
        else narrow[at] = '\0';
        if ((unicode ? GetFileAttributesW(wide) : GetFileAttributesA(narrow)) != INVALID_FILE_ATTRIBUTES)
            return true;
        if (unicode) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return true;
        }
    }
    return false;
}

// Windows 8, and Vista and 7 with KB 2533623, can take the program's folder out of the search
// for good. The installers skip Vista, where the shell's link object cannot be created after
// it (7-Zip's installer stub says so); this program creates no COM object. The function does
// not exist on the older systems, so it is looked up, never imported.
void NarrowSearch() {
    // GCC takes a detour through void (*)() as a cast it need not warn about.
    using Untyped = void (*)();
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDirectories>(reinterpret_cast<Untyped>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

extern "C" void LoadSystemDlls() {
    if (RedirectionFilePresent()) ExitProcess(kExitRedirected);
    // A CD drive without a disc, or any other drive that is not ready, fails quietly instead
    // of asking the user with a box of the system's.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SystemPath system;
    NarrowSearch();
    // The altered search path makes Windows look for what each of these imports in the system
    // folder first, not the program's. A load that fails only loses its preload, so a Windows
    // that refused the flag would start as before.
    for (const char* name : kPreloads) {
        LoadLibraryExA(system.Of(name), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    // Known DLLs on NT, whose own imports Windows takes from its known copies; a plain load by
    // full path is enough, and every Windows from 95 on has it.
    HMODULE dlls[2] = {};
    const char* const names[2] = {"user32", "advapi32"};
    for (int dll = kUser32; dll <= kAdvapi32; ++dll) {
        dlls[dll] = LoadLibraryA(system.Of(names[dll]));
        if (!dlls[dll]) ExitProcess(kExitUnbound);
    }
    // Windows would refuse to start a program whose import is missing; calling a null pointer
    // instead would be worse.
    for (const Binding& binding : kBindings) {
        *binding.slot = GetProcAddress(dlls[binding.dll], binding.name);
        if (!*binding.slot) ExitProcess(kExitUnbound);
    }
}
