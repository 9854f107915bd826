#include "system/restart.h"

#include <windows.h>

#include "system/os_version.h"
#include "system/scoped_handle.h"

void EnableShutdownPrivilege() {
    if (ClassifyOs().kind < WindowsNt4) return;

    ScopedHandle<HANDLE, CloseHandle> token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) return;

    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
}

void RestartComputer() {
    EnableShutdownPrivilege();
    // No EWX_FORCE: programs with unsaved work still get to ask their users.
    ExitWindowsEx(EWX_REBOOT, 0);
}
