#pragma once

#include <windows.h>

// The ATAPI driver reads this switch at boot; nothing else in the program touches the registry.
bool ReadLargeDiskSetting();

// 0 on success, otherwise the error code of the first registry call that failed.
DWORD WriteLargeDiskSetting();
