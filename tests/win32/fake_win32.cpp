#include "fake_win32.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fake {
namespace {

State g_state;
thread_local DWORD g_lastError = 0;
// Resource bytes handed out by LockResource, each followed by guard bytes that are not zero,
// so a reader that looks for a terminator instead of using the size shows garbage.
std::vector<std::unique_ptr<std::string>> g_lockedResources;
const char kGuard[] = "#GUARD#GUARD#GUARD#";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Text(const char* text) { return text == nullptr ? "null" : text; }
std::string Ptr(const void* p) { return p == nullptr ? "null" : "ptr"; }
template <typename T>
std::string Num(T value) {
    return std::to_string(value);
}

void Log(const std::string& function, std::vector<std::string> args) {
    g_state.calls.push_back({function, std::move(args)});
}

std::string RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return "HKLM";
    if (key == HKEY_CURRENT_USER) return "HKCU";
    if (key == HKEY_CLASSES_ROOT) return "HKCR";
    return "";
}

// The full path of a key given as a root or open handle plus a subkey; empty when the handle is bad.
std::string KeyPath(HKEY key, const char* subKey) {
    std::string base = RootName(key);
    if (base.empty()) {
        const auto open = g_state.openKeys.find(key);
        if (open == g_state.openKeys.end()) return "";
        base = open->second.path;
    }
    if (subKey == nullptr || *subKey == '\0') return base;
    return base + "\\" + subKey;
}

std::string KeyName(HKEY key) {
    const std::string root = RootName(key);
    if (!root.empty()) return root;
    return g_state.openKeys.count(key) != 0 ? "key" : "bad key";
}

HKEY NewKeyHandle(const std::string& path, REGSAM access) {
    static ULONG_PTR next = 0x1000;
    HKEY handle = reinterpret_cast<HKEY>(next += 4);
    g_state.openKeys[handle] = {path, access};
    ++g_state.keysOpened;
    return handle;
}

bool IsLead(BYTE c) { return g_state.codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)); }

BYTE UpperSingle(BYTE c) {
    if (c >= 'a' && c <= 'z') return static_cast<BYTE>(c - 0x20);
    if (g_state.codePage == 1252) {
        if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<BYTE>(c - 0x10);
        if (c == 0xFF) return 0x9F;
        if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<BYTE>(c - 0x20);
    }
    return c;
}

std::string ResourceKey(const char* type, const char* name) {
    auto part = [](const char* p) {
        return IS_INTRESOURCE(p) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(p)) : Upper(p);
    };
    return part(type) + "/" + part(name);
}

std::string ResourceArg(const char* p) {
    return IS_INTRESOURCE(p) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(p)) : std::string(p);
}

}  // namespace

const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(0x400000);
const HWND kDesktop = reinterpret_cast<HWND>(0x10010);
const HWND kDialog = reinterpret_cast<HWND>(0x20020);
Heap heap;

State& state() { return g_state; }

void Reset() {
    g_state = State();
    g_lockedResources.clear();
    g_lastError = 0;
}

void AddKey(const std::string& path) {
    std::string partial;
    for (std::size_t at = 0; at != std::string::npos;) {
        const std::size_t slash = path.find('\\', at);
        partial = path.substr(0, slash);
        g_state.keys[Lower(partial)];
        at = slash == std::string::npos ? slash : slash + 1;
    }
}

void SetValue(const std::string& path, const std::string& name, DWORD type, std::vector<BYTE> data) {
    AddKey(path);
    g_state.keys[Lower(path)][Lower(name)] = {type, std::move(data)};
}

void SetDword(const std::string& path, const std::string& name, DWORD value) {
    std::vector<BYTE> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
    SetValue(path, name, REG_DWORD, bytes);
}

bool KeyExists(const std::string& path) { return g_state.keys.count(Lower(path)) != 0; }

std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name) {
    const auto key = g_state.keys.find(Lower(path));
    if (key == g_state.keys.end()) return std::nullopt;
    const auto value = key->second.find(Lower(name));
    if (value == key->second.end()) return std::nullopt;
    return value->second;
}

std::vector<Call> CallsTo(const std::string& function) {
    std::vector<Call> found;
    for (const Call& call : g_state.calls)
        if (call.function == function) found.push_back(call);
    return found;
}

int CountCalls(const std::string& function) { return static_cast<int>(CallsTo(function).size()); }

}  // namespace fake

using fake::g_state;

// kernel32

DWORD WINAPI GetLastError() { return fake::g_lastError; }
void WINAPI SetLastError(DWORD error) { fake::g_lastError = error; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    fake::Log("GetVersionExA", {fake::Ptr(info), info ? fake::Num(info->dwOSVersionInfoSize) : "-"});
    if (info == nullptr || (info->dwOSVersionInfoSize != 148 && info->dwOSVersionInfoSize != 156)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(info);
    g_state.versionRecordWasCleared =
        std::all_of(bytes + sizeof info->dwOSVersionInfoSize, bytes + sizeof *info, [](BYTE b) { return b == 0; });
    if (g_state.version.fails) return FALSE;
    info->dwMajorVersion = g_state.version.major;
    info->dwMinorVersion = g_state.version.minor;
    info->dwBuildNumber = g_state.version.build;
    info->dwPlatformId = g_state.version.platform;
    // Only the text and its terminator: the bytes after it stay as the caller left them.
    const std::size_t length = std::min<std::size_t>(g_state.version.csd.size(), sizeof info->szCSDVersion - 1);
    std::memcpy(info->szCSDVersion, g_state.version.csd.data(), length);
    info->szCSDVersion[length] = '\0';
    return TRUE;
}

BOOL WINAPI IsDBCSLeadByte(BYTE c) { return fake::IsLead(c) ? TRUE : FALSE; }

int WINAPI LCMapStringA(LCID locale, DWORD flags, LPCSTR source, int sourceLength, LPSTR destination,
                        int destinationLength) {
    fake::Log("LCMapStringA", {fake::Num(locale), fake::Num(flags), fake::Ptr(source), fake::Num(sourceLength),
                               fake::Ptr(destination), fake::Num(destinationLength)});
    if (source == nullptr || sourceLength == 0 || destinationLength < 0 ||
        (destination == nullptr && destinationLength != 0) || (flags & ~(LCMAP_UPPERCASE | LCMAP_LOWERCASE)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length =
        sourceLength < 0 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    std::string mapped;
    for (std::size_t i = 0; i < length; ++i) {
        const BYTE c = static_cast<BYTE>(source[i]);
        if (fake::IsLead(c)) {
            // A lead byte without its trail byte is no character of the code page.
            if (i + 1 >= length) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return 0;
            }
            BYTE trail = static_cast<BYTE>(source[++i]);
            // Full-width a..z (0x8281..0x829A) map to A..Z (0x8260..0x8279).
            if ((flags & LCMAP_UPPERCASE) && c == 0x82 && trail >= 0x81 && trail <= 0x9A)
                trail = static_cast<BYTE>(trail - 0x21);
            mapped += static_cast<char>(c);
            mapped += static_cast<char>(trail);
        } else {
            mapped += static_cast<char>((flags & LCMAP_UPPERCASE) ? fake::UpperSingle(c) : c);
        }
    }
    if (destinationLength == 0) return static_cast<int>(mapped.size());
    if (mapped.size() > static_cast<std::size_t>(destinationLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(destination, mapped.data(), mapped.size());
    return static_cast<int>(mapped.size());
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    fake::Log("FindResourceA", {fake::Ptr(module), fake::ResourceArg(name), fake::ResourceArg(type)});
    if (module != fake::kModule) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const auto found = g_state.resources.find(fake::ResourceKey(type, name));
    if (found == g_state.resources.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(&*found);
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    fake::Log("LoadResource", {fake::Ptr(module), fake::Ptr(resource)});
    return module == fake::kModule ? static_cast<HGLOBAL>(resource) : nullptr;
}

LPVOID WINAPI LockResource(HGLOBAL data) {
    fake::Log("LockResource", {fake::Ptr(data)});
    if (data == nullptr || g_state.lockResourceFails) return nullptr;
    const auto* entry = static_cast<const std::pair<const std::string, std::string>*>(data);
    fake::g_lockedResources.push_back(std::make_unique<std::string>(entry->second + fake::kGuard));
    return fake::g_lockedResources.back()->data();
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    fake::Log("SizeofResource", {fake::Ptr(module), fake::Ptr(resource)});
    if (module != fake::kModule || resource == nullptr) return 0;
    return static_cast<DWORD>(reinterpret_cast<const std::pair<const std::string, std::string>*>(resource)->second.size());
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL WINAPI CloseHandle(HANDLE object) {
    fake::Log("CloseHandle", {fake::Ptr(object)});
    if (object == nullptr || g_state.tokensOpen == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --g_state.tokensOpen;
    return TRUE;
}

void WINAPI ExitProcess(UINT exitCode) { std::_Exit(static_cast<int>(exitCode)); }

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) { return moduleName == nullptr ? fake::kModule : nullptr; }

HANDLE WINAPI GetProcessHeap() { return &fake::heap; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD, SIZE_T bytes) {
    if (heap != &fake::heap || bytes > fake::kHeapLimit) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
    ++fake::heap.frees;
    if (heap != &fake::heap || block == nullptr) return FALSE;
    std::free(block);
    return TRUE;
}

// user32

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
    fake::Log("LoadStringA", {fake::Ptr(instance), fake::Num(id), fake::Ptr(buffer), fake::Num(bufferMax)});
    const auto forced = g_state.loaderResults.find(id);
    if (forced != g_state.loaderResults.end()) return forced->second;
    if (buffer == nullptr || bufferMax <= 0) return 0;
    buffer[0] = '\0';
    const auto found = g_state.strings.find(id);
    if (instance != fake::kModule || found == g_state.strings.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::size_t copied = std::min(found->second.size(), static_cast<std::size_t>(bufferMax - 1));
    std::memcpy(buffer, found->second.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                               LPARAM initParam) {
    fake::Log("DialogBoxParamA", {fake::Ptr(instance), fake::ResourceArg(templateName), fake::Ptr(parent),
                                  fake::Ptr(reinterpret_cast<void*>(dialogProc)), fake::Num(initParam)});
    if (g_state.dialogCreationFails || instance != fake::kModule || dialogProc == nullptr) return -1;
    g_state.dialogCaption = "License Agreement";
    g_state.controlTexts.clear();
    g_state.endDialogResult.reset();
    g_state.dialogProcResults.push_back(dialogProc(fake::kDialog, WM_INITDIALOG, 0, initParam));
    for (const fake::Message& m : g_state.dialogMessages) {
        if (g_state.endDialogResult) break;
        g_state.dialogProcResults.push_back(dialogProc(fake::kDialog, m.message, m.wParam, m.lParam));
    }
    // A dialog nobody ends would wait for ever; report it as a value no caller expects.
    return g_state.endDialogResult.value_or(-999);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    fake::Log("EndDialog", {fake::Ptr(dialog), fake::Num(result)});
    if (dialog != fake::kDialog) return FALSE;
    g_state.endDialogResult = result;
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    fake::Log("MessageBoxA", {fake::Ptr(owner), fake::Text(text), fake::Text(caption), fake::Num(type)});
    g_state.boxes.push_back({owner, fake::Text(text), fake::Text(caption), type});
    if (g_state.answers.empty()) return IDOK;
    const int answer = g_state.answers.front();
    g_state.answers.pop_front();
    return answer;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int itemId, LPCSTR text) {
    fake::Log("SetDlgItemTextA", {fake::Ptr(dialog), fake::Num(itemId), fake::Text(text)});
    if (dialog != fake::kDialog) return FALSE;
    g_state.controlTexts[itemId] = fake::Text(text);
    return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    fake::Log("SetWindowTextA", {fake::Ptr(window), fake::Text(text)});
    if (window != fake::kDialog) return FALSE;
    g_state.dialogCaption = fake::Text(text);
    return TRUE;
}

HWND WINAPI GetDesktopWindow() { return fake::kDesktop; }

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    if (window == fake::kDesktop) {
        *rect = g_state.desktop;
    } else if (window == fake::kDialog) {
        *rect = g_state.dialog;
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    fake::Log("SetWindowPos", {fake::Ptr(window), fake::Ptr(insertAfter), fake::Num(x), fake::Num(y), fake::Num(cx),
                               fake::Num(cy), fake::Num(flags)});
    if (window != fake::kDialog) return FALSE;
    RECT& r = g_state.dialog;
    const LONG width = (flags & SWP_NOSIZE) ? r.right - r.left : cx;
    const LONG height = (flags & SWP_NOSIZE) ? r.bottom - r.top : cy;
    if (!(flags & SWP_NOMOVE)) {
        r.left = x;
        r.top = y;
    }
    r.right = r.left + width;
    r.bottom = r.top + height;
    return TRUE;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    fake::Log("ExitWindowsEx", {fake::Num(flags), fake::Num(reason)});
    g_state.restarts.push_back({flags, reason, g_state.shutdownPrivilegeEnabled});
    if (!g_state.shutdownPrivilegeEnabled) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    return TRUE;
}

// advapi32

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    fake::Log("RegOpenKeyExA", {fake::KeyName(key), fake::Text(subKey), fake::Num(options), fake::Num(desired),
                                fake::Ptr(result)});
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    const std::string path = fake::KeyPath(key, subKey);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (g_state.openError != ERROR_SUCCESS) return g_state.openError;
    if (!fake::KeyExists(path)) return ERROR_FILE_NOT_FOUND;
    *result = fake::NewKeyHandle(path, desired);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM desired,
                            LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    fake::Log("RegCreateKeyExA",
              {fake::KeyName(key), fake::Text(subKey), fake::Num(reserved), fake::Text(keyClass), fake::Num(options),
               fake::Num(desired), fake::Ptr(security), fake::Ptr(result), fake::Ptr(disposition)});
    if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
    const std::string path = fake::KeyPath(key, subKey);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (g_state.createError != ERROR_SUCCESS) return g_state.createError;
    const bool existed = fake::KeyExists(path);
    fake::AddKey(path);
    if (disposition != nullptr) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = fake::NewKeyHandle(path, desired);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
    fake::Log("RegQueryValueExA", {fake::KeyName(key), fake::Text(valueName), fake::Ptr(reserved), fake::Ptr(type),
                                   fake::Ptr(data), dataSize ? fake::Num(*dataSize) : "null"});
    const auto open = g_state.openKeys.find(key);
    if (open == g_state.openKeys.end()) return ERROR_INVALID_HANDLE;
    if ((open->second.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (data != nullptr) g_state.queryBufferOnEntry.assign(data, data + *dataSize);
    const auto value = fake::GetValue(open->second.path, valueName ? valueName : "");
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = value->type;
    const DWORD size = static_cast<DWORD>(value->data.size());
    if (data != nullptr) {
        if (*dataSize < size) {
            // What Windows leaves in a too-small buffer is undefined; make it visible.
            std::memset(data, 0xAB, *dataSize);
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        std::copy(value->data.begin(), value->data.end(), data);
    }
    if (dataSize != nullptr) *dataSize = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
    std::vector<BYTE> bytes;
    if (data != nullptr) bytes.assign(data, data + dataSize);
    std::string shown;
    for (BYTE b : bytes) shown += (shown.empty() ? "" : " ") + fake::Num(b);
    fake::Log("RegSetValueExA", {fake::KeyName(key), fake::Text(valueName), fake::Num(reserved), fake::Num(type),
                                 shown, fake::Num(dataSize)});
    const auto open = g_state.openKeys.find(key);
    if (open == g_state.openKeys.end()) return ERROR_INVALID_HANDLE;
    if ((open->second.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (g_state.setError != ERROR_SUCCESS) return g_state.setError;
    fake::SetValue(open->second.path, valueName ? valueName : "", type, bytes);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
    fake::Log("RegCloseKey", {fake::KeyName(key)});
    return g_state.openKeys.erase(key) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
    fake::Log("OpenProcessToken", {process == GetCurrentProcess() ? "current process" : fake::Ptr(process),
                                   fake::Num(desiredAccess), fake::Ptr(token)});
    if (g_state.tokenOpenFails || token == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *token = reinterpret_cast<HANDLE>(0x7070);
    ++g_state.tokensOpen;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
    fake::Log("LookupPrivilegeValueA", {fake::Text(systemName), fake::Text(name), fake::Ptr(luid)});
    if (g_state.privilegeLookupFails || name == nullptr || std::strcmp(name, "SeShutdownPrivilege") != 0) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    *luid = {19, 0};  // SE_SHUTDOWN_PRIVILEGE
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, LPDWORD returnLength) {
    std::vector<std::string> args = {fake::Ptr(token), fake::Num(disableAll), fake::Ptr(newState),
                                     fake::Num(bufferLength), fake::Ptr(previousState), fake::Ptr(returnLength)};
    if (newState != nullptr) {
        args.push_back(fake::Num(newState->PrivilegeCount));
        args.push_back(fake::Num(newState->Privileges[0].Luid.LowPart));
        args.push_back(fake::Num(newState->Privileges[0].Luid.HighPart));
        args.push_back(fake::Num(newState->Privileges[0].Attributes));
    }
    fake::Log("AdjustTokenPrivileges", args);
    if (token != reinterpret_cast<HANDLE>(0x7070) || g_state.tokensOpen == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (newState != nullptr && newState->PrivilegeCount == 1 && newState->Privileges[0].Luid.LowPart == 19 &&
        newState->Privileges[0].Luid.HighPart == 0 && !disableAll)
        g_state.shutdownPrivilegeEnabled = (newState->Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    return TRUE;
}
