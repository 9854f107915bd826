// Version classification on arbitrary version records, in the single-byte (1252) and the
// double-byte (932) code page. Input layout:
//   byte 0      bit 0: code page 932, bit 1: GetVersionExA fails,
//               bit 2: the large-disk value exists, bit 3: it is a REG_DWORD (else REG_BINARY)
//   bytes 1-16  platform id, major, minor, build (little-endian 32-bit each)
//   bytes 17-24 the large-disk value's bytes (up to 8, as many as there are)
//   the rest    the 128-byte service-pack text as the record holds it, unterminated if full
// Besides not crashing, the classification must agree with itself however it is reached.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "atapi_key.h"
#include "fake_win32.h"
#include "system/os_version.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

DWORD Field(const std::uint8_t* data, std::size_t size, std::size_t at) {
    DWORD value = 0;
    for (std::size_t i = 0; i < 4 && at + i < size; ++i) value |= static_cast<DWORD>(data[at + i]) << (8 * i);
    return value;
}

bool NoLowerCaseAsciiBeforeEnd(const char (&text)[128]) {
    for (char c : text) {
        if (c == '\0') return true;
        if (c >= 'a' && c <= 'z') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    fake::Reset();
    fake::State& state = fake::state();
    state.codePage = (flags & 1) ? 932 : 1252;
    state.version.fails = (flags & 2) != 0;
    state.version.platform = Field(data, size, 1);
    state.version.major = Field(data, size, 5);
    state.version.minor = Field(data, size, 9);
    state.version.build = Field(data, size, 13);
    const std::size_t valueEnd = size < 25 ? size : 25;
    const std::size_t textStart = valueEnd;
    if (flags & 4) {
        const std::vector<BYTE> bytes(data + (valueEnd > 17 ? 17 : valueEnd), data + valueEnd);
        fake::SetValue(kAtapiKey, kBigLbaValue, (flags & 8) ? REG_DWORD : REG_BINARY, bytes);
    }
    char raw[128] = {};
    const std::size_t textLength = size - textStart < sizeof raw ? size - textStart : sizeof raw;
    std::memcpy(raw, data + textStart, textLength);
    state.version.csd.assign(raw, ::strnlen(raw, sizeof raw));

    // Through the platform query, as the program does it.
    const OsInfo info = ClassifyOs();
    Require(info.kind <= WindowsXp, "kind out of range");
    OSVERSIONINFOA record = {};
    if (!state.version.fails) {
        record.dwPlatformId = state.version.platform;
        record.dwMajorVersion = state.version.major;
        record.dwMinorVersion = state.version.minor;
        record.dwBuildNumber = state.version.build;
    }
    Require(KindFromVersion(record) == info.kind, "ClassifyOs and KindFromVersion disagree");
    if (record.dwPlatformId != VER_PLATFORM_WIN32_NT)
        Require(info.servicePack == 0, "a service pack outside the NT platform");

    const Applicability verdict = CheckApplicability();
    const bool applicable = (info.kind == WindowsXp && info.servicePack >= 1) ||
                            (info.kind == Windows2000 && info.servicePack >= 3);
    Require(applicable ? verdict != NotApplicable : verdict == NotApplicable,
            "verdict disagrees with the classification");

    // On the whole 128-byte text, even without a terminator: upper-casing keeps every zero
    // byte where it was, a second pass changes nothing, and in code page 1252 no lower-case
    // letter is left before the end of the text.
    char text[128];
    std::memcpy(text, raw, sizeof text);
    const std::uint8_t first = ServicePackFromText(text);
    for (std::size_t i = 0; i < sizeof text; ++i)
        Require((text[i] == '\0') == (raw[i] == '\0'), "upper-casing moved a zero byte");
    char again[128];
    std::memcpy(again, text, sizeof again);
    Require(ServicePackFromText(again) == first, "a second pass read another number");
    Require(std::memcmp(again, text, sizeof text) == 0, "a second pass changed the text");
    if (state.codePage == 1252)
        Require(NoLowerCaseAsciiBeforeEnd(text), "a lower-case letter survived in code page 1252");
    return 0;
}
