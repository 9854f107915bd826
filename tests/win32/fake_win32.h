// Scriptable state behind the Win32 double: a registry of raw typed values, the version record,
// the ANSI code page, a string table and custom resources, a desktop and one modal dialog,
// message boxes with scripted answers, the process token and restart requests. Every call is
// logged with its arguments as text, so a failure message shows what the product really passed.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace fake {

struct Call {
    std::string function;
    std::vector<std::string> args;  // numbers in decimal, strings as text, pointers "null" or "ptr"
};

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct OpenKey {
    std::string path;  // "HKLM\\System\\..." as the product spelled it
    REGSAM access = 0;
};

struct Version {
    bool fails = false;  // GetVersionExA returns FALSE and writes nothing
    DWORD platform = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    DWORD build = 2600;
    std::string csd = "Service Pack 1";  // copied with its terminating zero, at most 127 bytes
};

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

struct Restart {
    UINT flags;
    DWORD reason;
    bool privilegeHeld;  // was SeShutdownPrivilege enabled in the token at that moment
};

struct State {
    std::vector<Call> calls;

    // Registry: key paths and value names compare without regard to case, as Windows does.
    std::map<std::string, std::map<std::string, RegistryValue>> keys;
    LONG openError = ERROR_SUCCESS;    // non-zero: RegOpenKeyExA refuses with it
    LONG createError = ERROR_SUCCESS;  // non-zero: RegCreateKeyExA refuses with it
    LONG setError = ERROR_SUCCESS;     // non-zero: RegSetValueExA refuses with it
    std::map<HKEY, OpenKey> openKeys;
    int keysOpened = 0;
    std::vector<BYTE> queryBufferOnEntry;  // RegQueryValueExA: the caller's buffer as it arrived

    Version version;
    bool versionRecordWasCleared = true;  // every byte but the size field zero at each query
    UINT codePage = 1252;                 // 1252 (single-byte) or 932 (double-byte)

    std::map<UINT, std::string> strings;   // string table of the module
    std::map<UINT, int> loaderResults;     // forced LoadStringA results (e.g. negative)
    std::map<std::string, std::string> resources;  // "TYPE/NAME" (ids as "#n") -> bytes, no terminator
    bool lockResourceFails = false;                // LockResource yields null even for a loaded resource

    RECT desktop = {0, 0, 1024, 768};
    RECT dialog = {0, 0, 642, 518};
    bool dialogCreationFails = false;
    std::vector<Message> dialogMessages;  // delivered after WM_INITDIALOG until EndDialog
    std::string dialogCaption;
    std::map<int, std::string> controlTexts;
    std::vector<INT_PTR> dialogProcResults;  // what the procedure returned, message by message
    std::optional<INT_PTR> endDialogResult;

    std::deque<int> answers;  // one per message box, 0 for a box that could not be shown; empty: IDOK
    std::vector<Box> boxes;

    bool tokenOpenFails = false;
    bool privilegeLookupFails = false;
    int tokensOpen = 0;
    bool shutdownPrivilegeEnabled = false;
    std::vector<Restart> restarts;
};

// The process heap, apart from State: where the run-time's operator new replaces the test
// process's own, everything allocates through HeapAlloc, before State exists and while it is
// built. Blocks come from malloc; larger requests than kHeapLimit are refused, as by a heap
// that has run out of memory.
struct Heap {
    int frees = 0;  // HeapFree calls, null blocks included
};
extern Heap heap;
constexpr SIZE_T kHeapLimit = SIZE_T{1} << 30;

State& state();
void Reset();  // a clean machine: XP SP1, empty registry, cp1252, no strings or resources

extern const HINSTANCE kModule;
extern const HWND kDesktop;
extern const HWND kDialog;

// Registry helpers; a path names its root key first, as kAtapiKey in tests/common/atapi_key.h.
void AddKey(const std::string& path);
void SetValue(const std::string& path, const std::string& name, DWORD type, std::vector<BYTE> data);
void SetDword(const std::string& path, const std::string& name, DWORD value);
bool KeyExists(const std::string& path);
std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name);

std::vector<Call> CallsTo(const std::string& function);
int CountCalls(const std::string& function);

}  // namespace fake
