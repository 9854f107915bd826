#include "system/os_version.h"

#include <cstring>

#include "system/large_disk_setting.h"

namespace {

// Windows 95 retail reports its build field with the version packed into the high word.
const DWORD kWindows95Build = 0x040003B6;
const DWORD kFirstOsr2Build = 1111;

const char kServicePack[] = "SERVICE PACK";
const std::size_t kServicePackLength = sizeof kServicePack - 1;
const std::size_t kTextSize = sizeof OSVERSIONINFOA{}.szCSDVersion;

bool IsLeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

// Length of the character starting at i: a lead byte and its trail byte are one character,
// but a lead byte with nothing valid after it stands alone so no scan runs past the text.
std::size_t CharLength(const char (&text)[128], std::size_t i) {
    return IsLeadByte(text[i]) && i + 1 < kTextSize && text[i + 1] != '\0' ? 2 : 1;
}

// One character at a time, so a mapping that fails or changes a character's length stops
// the upper-casing there instead of shifting the rest of the text.
void UpperCaseAnsi(char (&text)[128]) {
    for (std::size_t i = 0; i < kTextSize && text[i] != '\0';) {
        const std::size_t length = CharLength(text, i);
        if (length == 1 && IsLeadByte(text[i])) return;
        char mapped[2];
        const int n = static_cast<int>(length);
        if (LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, text + i, n, mapped, n) != n) return;
        std::memcpy(text + i, mapped, length);
        i += length;
    }
}

std::uint8_t DecimalAt(const char (&text)[128], std::size_t i) {
    unsigned number = 0;
    for (; i < kTextSize && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10 + static_cast<unsigned>(text[i] - '0');
        if (number > 255) number = 255;
    }
    return static_cast<std::uint8_t>(number);
}

}  // namespace

std::uint8_t ServicePackFromText(char (&text)[128]) {
    UpperCaseAnsi(text);
    for (std::size_t i = 0; i + kServicePackLength <= kTextSize && text[i] != '\0'; i += CharLength(text, i)) {
        if (std::memcmp(text + i, kServicePack, kServicePackLength) == 0)
            return DecimalAt(text, i + kServicePackLength + 1);
    }
    return 0;
}

OsKind KindFromVersion(const OSVERSIONINFOA& version) {
    switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        if (version.dwMajorVersion != 4) return Unrecognised;
        if (version.dwBuildNumber == kWindows95Build) return Windows95;
        if (version.dwMinorVersion == 0) return version.dwBuildNumber >= kFirstOsr2Build ? Windows95Osr2 : Unrecognised;
        return version.dwMinorVersion < 90 ? Windows98 : WindowsMe;
    case VER_PLATFORM_WIN32_NT:
        // Later majors are judged by their minor version alone.
        if (version.dwMajorVersion < 5) return WindowsNt4;
        if (version.dwMinorVersion == 0) return Windows2000;
        if (version.dwMinorVersion == 1) return WindowsXp;
        return Unrecognised;
    default:
        return Unrecognised;
    }
}

OsInfo ClassifyOs() {
    // Cleared first: a failed query leaves zeros, which classify as unrecognised.
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);

    OsInfo info;
    info.kind = KindFromVersion(version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) info.servicePack = ServicePackFromText(version.szCSDVersion);
    return info;
}

Applicability CheckApplicability() {
    const OsInfo os = ClassifyOs();
    const bool applicable = (os.kind == WindowsXp && os.servicePack >= 1) ||
                            (os.kind == Windows2000 && os.servicePack >= 3);
    if (!applicable) return NotApplicable;
    return ReadLargeDiskSetting() ? AlreadyEnabled : NotEnabled;
}
