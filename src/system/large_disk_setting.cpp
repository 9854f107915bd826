#include "system/large_disk_setting.h"

#include "system/scoped_handle.h"

namespace {

const char kParametersKey[] = "System\\CurrentControlSet\\Services\\Atapi\\Parameters";
const char kValueName[] = "EnableBigLba";

using RegistryKey = ScopedHandle<HKEY, RegCloseKey>;

}  // namespace

bool ReadLargeDiskSetting() {
    // All access even for reading: without the right to change the key the switch reads as off.
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_ALL_ACCESS, key.Receive()) != ERROR_SUCCESS)
        return false;

    // The type is not asked for: any value of up to four bytes that is not all zero counts as on.
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.Get(), kValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return false;
    return value != 0;
}

DWORD WriteLargeDiskSetting() {
    RegistryKey key;
    char noClass[] = "";
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, noClass, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);

    const DWORD enabled = 1;
    return static_cast<DWORD>(RegSetValueExA(key.Get(), kValueName, 0, REG_DWORD,
                                             reinterpret_cast<const BYTE*>(&enabled), sizeof enabled));
}
