#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

// The module whose resources hold every text and the dialog; set once, first thing in WinMain.
extern HINSTANCE g_instance;

// Raised by ResString::Load as the bare code, one of the text codes of exit_codes.h. Where the
// build has no C++ exceptions (the Windows image), the process ends instead, with the code as
// its exit code.
using ResourceError = std::uint32_t;

struct BrandToken {
    const char* token;
    const char* value;
};

// Order matters: "APPNAME" lies inside the two tokens before it, which must go first.
extern const BrandToken BrandTokenTable[5];

class ResString : public std::string {
public:
    // Loads a string-table entry and replaces every brand token; on failure raises and leaves
    // the string as it was.
    ResString& Load(HINSTANCE instance, UINT id);

    // Replaces every occurrence of token, right-most first; 0 (string unchanged) if either is null.
    int ReplaceAll(const char* token, const char* value);
};
