#include "text/res_string.h"

#include <algorithm>
#include <cstring>

HINSTANCE g_instance = nullptr;

const BrandToken BrandTokenTable[5] = {
    {"OEMNAME", "Torvane"},
    {"DOSAPPNAME", "Velmora for DOS"},
    {"WINAPPNAME", "Velmora"},
    {"APPNAME", "Velmora Online"},
    {"BMNAME", "Brisal"},
};

ResString& ResString::Load(HINSTANCE instance, UINT id) {
    if (instance == nullptr) throw ResourceError{1};

    char buffer[2048];
    const int copied = LoadStringA(instance, id, buffer, sizeof buffer);
    if (copied == 0) throw ResourceError{2};
    if (copied < 0) throw ResourceError{4};

    // Up to the first zero: an entry may hold one of its own, and LoadStringA stops at 2047.
    assign(buffer, std::find(buffer, buffer + sizeof buffer - 1, '\0'));
    for (const BrandToken& brand : BrandTokenTable) ReplaceAll(brand.token, brand.value);
    return *this;
}

int ResString::ReplaceAll(const char* token, const char* value) {
    if (token == nullptr || value == nullptr) return 0;

    // Each search restarts from the end of the whole string, so an occurrence that a
    // replacement forms across its own edge is replaced too. An occurrence made only of
    // replacement text is passed over: every replacement then uses up at least one character
    // of the text as it was, so the loop ends for any input, an empty token or a value that
    // holds its own token included. No brand value can form a brand token by itself.
    const std::size_t tokenLength = std::strlen(token);
    const std::size_t valueLength = std::strlen(value);
    std::string untouched(size(), '\1');
    std::size_t at = rfind(token);
    while (at != npos) {
        if (untouched.find('\1', at) < at + tokenLength) {
            replace(at, tokenLength, value, valueLength);
            untouched.replace(at, tokenLength, valueLength, '\0');
            at = rfind(token);
        } else {
            at = at == 0 ? npos : rfind(token, at - 1);
        }
    }
    return 1;
}
