// Drives the real Halvenor.exe like a user: waits for each window it should show, checks its
// texts against the ones the binary check holds, presses the planned button and finally checks
// the exit code and how many restarts were requested.
//
//   driver.exe [--shots=DIR] [--restarts=N] [--exit-code=N] [--deny-key-access] Halvenor.exe [STEP...]
//   driver.exe --show-value
//   driver.exe --save-hklm FILE
//
// STEP is one of esc, agree, disagree, close (the agreement dialog) or BOX=ANSWER, with BOX one
// of not-applicable, already-enabled, enable-prompt, write-failed, restart-prompt and ANSWER
// ok, yes or no. With no step, Halvenor must end without showing any window. --save-hklm
// writes all of HKLM to FILE in one request to Wine's server, in the server's own text format: an
// export through reg.exe asks for each of its some 100,000 values in turn, which takes a minute
// in an emulated machine. It copies HKLM only while Wine is not writing its display devices.
// What tests/e2e/run reads of the driver's output and files is in docs/testing.md (The runner
// and the driver): change both together.

#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "atapi_key.h"
#include "resource.h"
#include "shown_texts.h"

// Not declared by the toolchain's headers; ntdll exports it.
extern "C" NTSTATUS NTAPI NtCreateMutant(PHANDLE mutex, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, BOOLEAN owned);

namespace {

constexpr DWORD kWindowTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 10000;
// The statics that hold a message box's text and icon, in Windows and in Wine alike.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 0x440;

struct BoxKind {
    const char* name;
    UINT captionId;
    UINT textId;
    bool yesNo;
    bool warningIcon;
};

const BoxKind kBoxes[] = {
    {"not-applicable", IDS_TITLE, IDS_NOT_APPLICABLE, false, false},
    {"already-enabled", IDS_TITLE, IDS_ALREADY_ENABLED, false, false},
    {"enable-prompt", IDS_TITLE, IDS_ENABLE_PROMPT, true, false},
    {"write-failed", IDS_ERROR_CAPTION, IDS_WRITE_FAILED, false, true},
    {"restart-prompt", IDS_RESTART_CAPTION, IDS_RESTART_PROMPT, true, false},
};

struct Answer {
    const char* name;
    int id;
};

const Answer kAnswers[] = {{"ok", IDOK}, {"yes", IDYES}, {"no", IDNO}};

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure(message); }

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out + "\"";
}

void Expect(const std::string& what, const std::string& actual, const std::string& expected) {
    if (actual != expected) Fail(what + ": expected " + Quoted(expected) + ", got " + Quoted(actual));
}

HINSTANCE g_product = nullptr;
PROCESS_INFORMATION g_child = {};
std::string g_shots;
int g_endSessionRequests = 0;
std::vector<std::string> g_restartCommands;

std::string Shown(UINT id) {
    for (const ShownText& shown : kShownStrings)
        if (shown.id == id) return shown.text;
    Fail("no text is expected for string " + std::to_string(id));
}

// A message sent across processes cannot wait for ever: a hung product must fail the run.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result))
        Fail("window " + std::to_string(reinterpret_cast<UINT_PTR>(window)) + " did not answer message " +
             std::to_string(message));
    return static_cast<LRESULT>(result);
}

// GetWindowText reads only the caption of another process's window; WM_GETTEXT reaches the
// control itself, so an edit control yields its contents.
std::string TextOf(HWND window) {
    std::string text(static_cast<size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]))));
    return text;
}

// The command line ExitWindowsEx hands to Wine's end-session helper tells a restart from a
// shutdown; Wine has no information class for it, so it is read from the helper's PEB.
std::string CommandLineOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return "?";
    std::wstring line;
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 &&
        ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) &&
        ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr)) {
        line.resize(parameters.CommandLine.Length / sizeof(wchar_t));
        if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, &line[0], parameters.CommandLine.Length, nullptr))
            line.clear();
    }
    CloseHandle(process);
    return std::string(line.begin(), line.end());
}

std::vector<DWORD> RestartHelpers() {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == g_child.dwProcessId && _stricmp(entry.szExeFile, "wineboot.exe") == 0)
            pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

bool Alive(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

// Wine's ExitWindowsEx asks every top-level window whether the session may end; refusing keeps
// this Wine session (and the driver) alive, and the request is what the run counts.
LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_QUERYENDSESSION) return DefWindowProcA(window, message, wParam, lParam);
    ++g_endSessionRequests;
    // The helper is blocked on this answer, so it is still there to be looked at.
    std::string from;
    for (DWORD pid : RestartHelpers()) from = CommandLineOf(pid);
    g_restartCommands.push_back(from);
    std::printf("end-session request %d (lParam 0x%lx, %s) refused\n", g_endSessionRequests, static_cast<long>(lParam),
                from.c_str());
    return FALSE;
}

void CreateSessionWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SessionWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "HalvenorE2eSession";
    RegisterClassA(&windowClass);
    if (!CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         windowClass.hInstance, nullptr))
        Fail("cannot create the end-session window");
}

// Keeps the driver's own queue running while it waits, so an end-session request is answered.
template <class Done>
bool PumpUntil(DWORD timeoutMs, Done done) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
}

bool ChildEnded() { return WaitForSingleObject(g_child.hProcess, 0) == WAIT_OBJECT_0; }

std::vector<HWND> VisibleWindows() {
    std::vector<HWND> found;
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == g_child.dwProcessId && IsWindowVisible(window)) found.push_back(window);
    }
    return found;
}

std::string Describe(HWND window) {
    std::string description = "window " + Quoted(TextOf(window));
    if (HWND text = GetDlgItem(window, kMessageBoxTextId)) description += " saying " + Quoted(TextOf(text));
    return description;
}

HWND WaitForWindow(const std::string& what, const std::string& caption) {
    HWND found = nullptr;
    PumpUntil(kWindowTimeoutMs, [&] {
        const std::vector<HWND> windows = VisibleWindows();
        if (windows.size() > 1) Fail("waiting for the " + what + ": several windows at once, first " + Describe(windows[0]));
        if (windows.size() == 1) {
            if (TextOf(windows[0]) != caption)
                Fail("expected the " + what + " captioned " + Quoted(caption) + ", found " + Describe(windows[0]));
            found = windows[0];
            return true;
        }
        if (ChildEnded()) {
            DWORD code = 0;
            GetExitCodeProcess(g_child.hProcess, &code);
            Fail("Halvenor ended (exit code " + std::to_string(code) + ") before showing the " + what);
        }
        return false;
    });
    if (!found) Fail("no " + what + " within " + std::to_string(kWindowTimeoutMs / 1000) + " s");
    if (GetWindow(found, GW_OWNER)) Fail("the " + what + " has an owner window");
    return found;
}

void WaitUntilGone(HWND window, const std::string& what) {
    if (!PumpUntil(kWindowTimeoutMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); }))
        Fail("the " + what + " stayed open");
}

void Press(HWND window, int buttonId, const std::string& what) {
    HWND button = GetDlgItem(window, buttonId);
    if (!button) Fail("the " + what + " has no button " + std::to_string(buttonId));
    Send(button, BM_CLICK, 0, 0);
    WaitUntilGone(window, what);
}

// The screen as 24-bit bottom-up rows, ready to be written as a BMP file.
struct Screenshot {
    BITMAPINFOHEADER header = {};
    std::vector<BYTE> pixels;

    Screenshot() {
        HDC screen = GetDC(nullptr);
        header.biSize = sizeof header;
        header.biWidth = GetSystemMetrics(SM_CXSCREEN);
        header.biHeight = GetSystemMetrics(SM_CYSCREEN);
        header.biPlanes = 1;
        header.biBitCount = 24;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC memory = CreateCompatibleDC(screen);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, header.biWidth, header.biHeight, screen, 0, 0, SRCCOPY);
        GdiFlush();
        pixels.assign(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + Stride() * header.biHeight);
        SelectObject(memory, previous);
        DeleteDC(memory);
        DeleteObject(bitmap);
        ReleaseDC(nullptr, screen);
    }

    LONG Stride() const { return (header.biWidth * 3 + 3) & ~3; }

    const BYTE* Pixel(LONG x, LONG y) const { return &pixels[(header.biHeight - 1 - y) * Stride() + x * 3]; }

    // Whether the rectangle holds more than one colour, as a drawn label or button does.
    bool Drawn(RECT rect) const {
        rect.left = std::max(rect.left, 0L);
        rect.top = std::max(rect.top, 0L);
        rect.right = std::min(rect.right, header.biWidth);
        rect.bottom = std::min(rect.bottom, header.biHeight);
        for (LONG y = rect.top; y < rect.bottom; ++y)
            for (LONG x = rect.left; x < rect.right; ++x)
                if (std::memcmp(Pixel(x, y), Pixel(rect.left, rect.top), 3) != 0) return true;
        return false;
    }

    void Save(const std::string& path) const {
        const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof header;
        const BITMAPFILEHEADER file = {0x4D42, offset + static_cast<DWORD>(pixels.size()), 0, 0, offset};
        FILE* out = std::fopen(path.c_str(), "wb");
        if (!out) Fail("cannot write " + path);
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&header, sizeof header, 1, out);
        std::fwrite(pixels.data(), pixels.size(), 1, out);
        std::fclose(out);
    }
};

// Wine hands a window's drawing to the X server a little after the window has painted it, so
// the screen is taken again until every labelled control of the window shows on it.
void SaveScreenshot(HWND window, const std::string& name) {
    if (g_shots.empty()) return;
    auto allDrawn = [window](const Screenshot& shot) {
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT rect;
            GetWindowRect(child, &rect);
            if (IsWindowVisible(child) && !TextOf(child).empty() && !shot.Drawn(rect)) return false;
        }
        return true;
    };
    std::unique_ptr<Screenshot> shot;
    if (!PumpUntil(kWindowTimeoutMs, [&] {
            shot.reset(new Screenshot);
            return allDrawn(*shot);
        }))
        Fail("the " + name + " window never showed all its controls on screen");
    shot->Save(g_shots + "\\" + name + ".bmp");
}

std::string LicenseText() {
    HRSRC resource = FindResourceA(g_product, "IDR_LICENSE", "TXT");
    const void* data = resource ? LockResource(LoadResource(g_product, resource)) : nullptr;
    if (!data) Fail("Halvenor.exe has no terms resource");
    return std::string(static_cast<const char*>(data), SizeofResource(g_product, resource));
}

void CheckAgreementDialog(HWND dialog) {
    std::printf("agreement dialog %s\n", Quoted(TextOf(dialog)).c_str());

    Expect("agreement heading", TextOf(GetDlgItem(dialog, IDC_HEADING)), Shown(IDS_AGREEMENT_HEADING));
    const std::string terms = TextOf(GetDlgItem(dialog, IDC_TERMS));
    if (terms.empty()) Fail("the terms box is empty");
    Expect("terms box", terms, LicenseText());
    Expect("agree button", TextOf(GetDlgItem(dialog, IDC_AGREE)), kAgreeLabel);
    Expect("disagree button", TextOf(GetDlgItem(dialog, IDC_DISAGREE)), kDisagreeLabel);

    RECT desktop, box;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &box);
    const long x = desktop.left + ((desktop.right - desktop.left) - (box.right - box.left)) / 2;
    const long y = desktop.top + ((desktop.bottom - desktop.top) - (box.bottom - box.top)) / 2;
    if (box.left != x || box.top != y)
        Fail("agreement dialog at " + std::to_string(box.left) + "," + std::to_string(box.top) + ", centred would be " +
             std::to_string(x) + "," + std::to_string(y));

    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
    if (thread.hwndFocus != GetDlgItem(dialog, IDC_AGREE)) Fail("the keyboard focus is not on \"I &Agree\"");
}

// Esc goes through the dialog manager as a keypress to the focused button, and once more as the
// bare IDCANCEL command it turns into; neither may end the dialog.
void PressEscape(HWND dialog) {
    // A posted marker behind the keypress shows when the dialog has read it.
    HWND terms = GetDlgItem(dialog, IDC_TERMS);
    const LRESULT marker = Send(terms, EM_GETLIMITTEXT, 0, 0) + 1;
    HWND focus = GetDlgItem(dialog, IDC_AGREE);
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    PostMessageA(terms, EM_SETLIMITTEXT, static_cast<WPARAM>(marker), 0);
    if (!PumpUntil(kWindowTimeoutMs, [&] {
            DWORD_PTR limit = 0;
            return !SendMessageTimeoutA(terms, EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, 5000, &limit) ||
                   static_cast<LRESULT>(limit) == marker;
        }))
        Fail("the agreement dialog did not take the Esc key");
    if (!IsWindow(dialog) || !IsWindowVisible(dialog)) Fail("Esc closed the agreement dialog");
    Send(dialog, WM_COMMAND, IDCANCEL, 0);
    if (!IsWindow(dialog) || !IsWindowVisible(dialog)) Fail("IDCANCEL closed the agreement dialog");
    std::printf("  Esc: the dialog stays open\n");
}

void HandleBox(const BoxKind& kind, const Answer& answer) {
    const std::string caption = Shown(kind.captionId);
    HWND box = WaitForWindow(std::string(kind.name) + " box", caption);
    const std::string text = TextOf(GetDlgItem(box, kMessageBoxTextId));
    std::printf("message box %s:\n", Quoted(caption).c_str());
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::printf("  | %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
    for (const BoxKind& other : kBoxes)
        if (&other != &kind && text == Shown(other.textId))
            Fail(std::string("expected the ") + kind.name + " box, got the " + other.name + " box");
    Expect(std::string(kind.name) + " text", text, Shown(kind.textId));

    std::set<int> buttons;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = "";
        GetClassNameA(child, className, sizeof className);
        if (_stricmp(className, "Button") == 0 && IsWindowVisible(child)) buttons.insert(GetDlgCtrlID(child));
    }
    const std::set<int> expected = kind.yesNo ? std::set<int>{IDYES, IDNO} : std::set<int>{IDOK};
    if (buttons != expected) Fail(std::string("the ") + kind.name + " box has the wrong buttons");
    HWND icon = GetDlgItem(box, kMessageBoxIconId);
    const bool hasIcon = icon && IsWindowVisible(icon) && Send(icon, STM_GETICON, 0, 0) != 0;
    if (hasIcon != kind.warningIcon) Fail(std::string("the ") + kind.name + (hasIcon ? " box has an icon" : " box lacks its icon"));

    SaveScreenshot(box, kind.name);
    if (!expected.count(answer.id)) Fail(std::string("the plan answers the ") + kind.name + " box with " + answer.name);
    std::printf("  pressed %s\n", answer.name);
    Press(box, answer.id, std::string(kind.name) + " box");
}

void RunStep(const std::string& step, HWND& dialog) {
    const bool dialogStep = step == "esc" || step == "agree" || step == "disagree" || step == "close";
    if (dialogStep && !dialog) {
        dialog = WaitForWindow("agreement dialog", Shown(IDS_TITLE));
        CheckAgreementDialog(dialog);
        SaveScreenshot(dialog, "agreement");
    }
    if (step == "esc") return PressEscape(dialog);
    if (step == "agree" || step == "disagree") {
        std::printf("  pressed %s\n", step.c_str());
        Press(dialog, step == "agree" ? IDC_AGREE : IDC_DISAGREE, "agreement dialog");
        return;
    }
    if (step == "close") {
        std::printf("  closed the dialog\n");
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return WaitUntilGone(dialog, "agreement dialog");
    }
    const size_t equals = step.find('=');
    for (const BoxKind& kind : kBoxes)
        for (const Answer& answer : kAnswers)
            if (step.substr(0, equals) == kind.name && equals != std::string::npos && step.substr(equals + 1) == answer.name)
                return HandleBox(kind, answer);
    Fail("unknown step " + Quoted(step));
}

void FinishRun(int expectedRestarts, DWORD expectedCode) {
    if (!PumpUntil(kExitTimeoutMs, [] {
            const std::vector<HWND> windows = VisibleWindows();
            if (!windows.empty()) Fail("unexpected " + Describe(windows[0]) + " after the last step");
            return ChildEnded();
        }))
        Fail("Halvenor did not end within " + std::to_string(kExitTimeoutMs / 1000) + " s after the last step");
    DWORD code = 0;
    GetExitCodeProcess(g_child.hProcess, &code);
    if (code != expectedCode)
        Fail("Halvenor exit code " + std::to_string(code) + ", expected " + std::to_string(expectedCode));

    // ExitWindowsEx starts the end-session helper before it returns, so any restart request is
    // either answered already or its helper is still running now.
    const std::vector<DWORD> helpers = RestartHelpers();
    if (!PumpUntil(kWindowTimeoutMs, [&] {
            for (DWORD pid : helpers)
                if (Alive(pid)) return false;
            return true;
        }))
        Fail("the end-session helper did not finish");
    std::printf("exit code %lu, %d restart request(s)\n", code, g_endSessionRequests);
    if (g_endSessionRequests != expectedRestarts)
        Fail(std::to_string(g_endSessionRequests) + " restart request(s), expected " + std::to_string(expectedRestarts));
    // Wine turns EWX_REBOOT alone into a bare --end-session; a shutdown adds --shutdown, and a
    // forced request never asks this window at all.
    // Under WOW64 the helper is a 64-bit process, whose command line this 32-bit program cannot
    // read; the request was still counted above.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    for (const std::string& line : g_restartCommands) {
        if (line.empty() && wow64) {
            std::printf("the 64-bit end-session helper's command line is not readable under WOW64\n");
            continue;
        }
        if (line.size() < 14 || line.compare(line.size() - 14, 14, " --end-session") != 0)
            Fail("the restart request was not a plain reboot: " + Quoted(line));
    }
}

// Takes the key's all-access right from everyone, as a non-administrator would lack it; the
// key's own security is put back when the run ends, whatever the outcome.
struct KeyAccessDenial {
    std::vector<char> saved;

    KeyAccessDenial() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAtapiSubKey, 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS)
            Fail("the key to lock does not exist");
        DWORD size = 0;
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved.resize(size);
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.data(), &size);

        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        alignas(DWORD) char aclBuffer[128];
        auto* acl = reinterpret_cast<PACL>(aclBuffer);
        InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
        AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        const LONG status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
        FreeSid(everyone);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) Fail("cannot lock the key");
    }

    ~KeyAccessDenial() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAtapiSubKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.data());
        RegCloseKey(key);
    }
};

// Prints the value as "TYPE HEX-BYTES", "no value" or "no key": what reg.exe shows hides the
// size of a REG_DWORD.
int ShowValue() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAtapiSubKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        std::printf("no key\n");
        return 0;
    }
    DWORD type = 0;
    BYTE data[64];
    DWORD size = sizeof data;
    const LONG status = RegQueryValueExA(key, kBigLbaValue, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        std::printf(status == ERROR_FILE_NOT_FOUND ? "no value\n" : "unreadable value (error %ld)\n", status);
        return 0;
    }
    const char* const names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD"};
    std::printf("%s ", type < 5 ? names[type] : std::to_string(type).c_str());
    for (DWORD i = 0; i < size; ++i) std::printf("%02X", data[i]);
    std::printf("\n");
    return 0;
}

// Wine writes its display devices' keys anew whenever a desktop starts or its display changes
// (the GPU, adapter and monitor under Enum, and their class and video keys): it empties them
// and fills them again, holding the mutex display_device_init of the session throughout. A
// copy of HKLM taken meanwhile lacks part of them, as a copy taken before or after does not.
// Wine 8.0 counts the name's closing NUL into its length, which makes its mutex another object
// than the one later Wines name; only the native call can name it. Holding both, in one
// order, waits for either Wine.
class DisplayRegistrationLock {
public:
    DisplayRegistrationLock() {
        DWORD session = 0;
        ProcessIdToSessionId(GetCurrentProcessId(), &session);
        std::wstring name = L"\\Sessions\\" + std::to_wstring(session) + L"\\BaseNamedObjects\\display_device_init";
        for (bool withNul : {true, false}) {
            UNICODE_STRING text;
            text.Buffer = &name[0];
            text.Length = static_cast<USHORT>((name.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
            text.MaximumLength = static_cast<USHORT>((name.size() + 1) * sizeof(wchar_t));
            OBJECT_ATTRIBUTES attributes;
            InitializeObjectAttributes(&attributes, &text, OBJ_OPENIF, nullptr, nullptr);
            HANDLE mutex = nullptr;
            const NTSTATUS status = NtCreateMutant(&mutex, MUTEX_ALL_ACCESS, &attributes, FALSE);
            if (status < 0) Fail("cannot open Wine's display mutex (status " + std::to_string(status) + ")");
            held_.push_back(mutex);
            // Abandoned by a writer that was killed, it is this process's all the same.
            const DWORD waited = WaitForSingleObject(mutex, kWindowTimeoutMs);
            if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
                Fail("Wine's display registration did not finish within " + std::to_string(kWindowTimeoutMs / 1000) + " s");
        }
    }

    ~DisplayRegistrationLock() {
        for (auto mutex = held_.rbegin(); mutex != held_.rend(); ++mutex) {
            ReleaseMutex(*mutex);
            CloseHandle(*mutex);
        }
    }

private:
    std::vector<HANDLE> held_;
};

int SaveHklm(const char* file) {
    HANDLE token;
    TOKEN_PRIVILEGES backup = {};
    backup.PrivilegeCount = 1;
    backup.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) ||
        !LookupPrivilegeValueA(nullptr, SE_BACKUP_NAME, &backup.Privileges[0].Luid))
        Fail("cannot enable the backup privilege");
    const BOOL enabled = AdjustTokenPrivileges(token, FALSE, &backup, 0, nullptr, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(token);
    if (!enabled || error != ERROR_SUCCESS) Fail("cannot enable the backup privilege (error " + std::to_string(error) + ")");
    // Wine's desktop registers the display's adapter and monitor as it starts, and a process that
    // opens no window does not wait for it. Asking for the desktop window starts the desktop;
    // asking for a display device then registers them if nobody has yet.
    GetDesktopWindow();
    DISPLAY_DEVICEA device = {};
    device.cb = sizeof device;
    EnumDisplayDevicesA(nullptr, 0, &device, 0);
    // RegSaveKey refuses to write over a file.
    DeleteFileA(file);
    LONG status;
    {
        const DisplayRegistrationLock lock;
        status = RegSaveKeyA(HKEY_LOCAL_MACHINE, file, nullptr);
    }
    if (status != ERROR_SUCCESS) Fail("cannot save HKLM to " + std::string(file) + " (error " + std::to_string(status) + ")");
    return 0;
}

int Run(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--show-value") == 0) return ShowValue();
    if (argc == 3 && std::strcmp(argv[1], "--save-hklm") == 0) return SaveHklm(argv[2]);
    int expectedRestarts = 0;
    DWORD expectedCode = 0;
    bool denyKeyAccess = false;
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
        const std::string option = argv[arg];
        if (option.rfind("--shots=", 0) == 0) g_shots = option.substr(8);
        else if (option.rfind("--restarts=", 0) == 0) expectedRestarts = std::atoi(option.c_str() + 11);
        else if (option.rfind("--exit-code=", 0) == 0) expectedCode = std::strtoul(option.c_str() + 12, nullptr, 10);
        else if (option == "--deny-key-access") denyKeyAccess = true;
        else Fail("unknown option " + option);
    }
    if (arg >= argc)
        Fail("usage: driver.exe [--shots=DIR] [--restarts=N] [--exit-code=N] [--deny-key-access] Halvenor.exe [STEP...]");
    const char* exe = argv[arg];
    // The image's path as given: argv spells what the ANSI code page lacks as '?', and a run
    // from a folder so named must start the very file.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count != argc) Fail("cannot read the command line in Unicode");
    const std::wstring image = wide[arg++];
    LocalFree(wide);
    std::printf("value before: ");
    ShowValue();

    g_product = LoadLibraryExW(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!g_product) Fail(std::string("cannot load ") + exe);
    CreateSessionWindow();

    std::wstring commandLine = L"\"" + image + L"\"";

    std::unique_ptr<KeyAccessDenial> denial;
    if (denyKeyAccess) denial.reset(new KeyAccessDenial);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &g_child))
        Fail(std::string("cannot start ") + exe);
    try {
        HWND dialog = nullptr;
        for (; arg < argc; ++arg) RunStep(argv[arg], dialog);
        FinishRun(expectedRestarts, expectedCode);
    } catch (...) {
        TerminateProcess(g_child.hProcess, 1);
        throw;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Unbuffered, so a run that is cut short still shows how far it got.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int code = 0;
    try {
        code = Run(argc, argv);
    } catch (const Failure& failure) {
        std::printf("FAIL: %s\n", failure.what());
        code = 1;
    }
    // The value as the run left it, read here rather than by one more Wine process.
    if (argc > 1 && std::strcmp(argv[1], "--show-value") != 0 && std::strcmp(argv[1], "--save-hklm") != 0) {
        std::printf("value after: ");
        ShowValue();
    }
    return code;
}
