#pragma once

#include <cstdint>

#include <windows.h>

enum OsKind : std::uint8_t {
    Unrecognised = 0,
    Windows95 = 1,
    Windows95Osr2 = 2,
    Windows98 = 3,
    WindowsMe = 4,
    WindowsNt4 = 5,
    Windows2000 = 6,
    WindowsXp = 7,
};

struct OsInfo {
    OsKind kind = Unrecognised;
    std::uint8_t servicePack = 0;
};

enum Applicability : int {
    NotApplicable = -1,
    NotEnabled = 0,
    AlreadyEnabled = 1,
};

// Asks the platform for its version once and interprets the answer.
OsInfo ClassifyOs();

// Reads the large-disk setting only on a system the switch applies to.
Applicability CheckApplicability();

// The interpretation beneath ClassifyOs, free of the version query.
OsKind KindFromVersion(const OSVERSIONINFOA& version);

// Upper-cases the service-pack text in place in the ANSI code page, then reads the number
// after "SERVICE PACK ": decimal digits only, saturating at 255; 0 where there are none.
std::uint8_t ServicePackFromText(char (&text)[128]);
