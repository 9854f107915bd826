#include "text/res_string.h"

#include <algorithm>
#include <cstring>

#include "exit_codes.h"

HINSTANCE g_instance = nullptr;

namespace {

// Nothing in the program catches a ResourceError: a text that cannot be loaded is a broken
// build, and the program ends with the error's code. The Windows image is built without C++
// exceptions (the library code that raises and unwinds them is made for newer processors
// than the 386), so there it ends here, as an uncaught error would end it. A build with
// exceptions raises it, for the caller to see.
[[noreturn]] void RaiseResourceError(ResourceError code) {
#if defined(__cpp_exceptions)
    throw code;
#else
    ExitProcess(code);
#endif
}

}  // namespace

const BrandToken BrandTokenTable[5] = {
    {"OEMNAME", "Torvane"},
    {"DOSAPPNAME", "Velmora for DOS"},
    {"WINAPPNAME", "Velmora"},
    {"APPNAME", "Velmora Online"},
    {"BMNAME", "Brisal"},
};

ResString& ResString::Load(HINSTANCE instance, UINT id) {
    if (instance == nullptr) RaiseResourceError(kExitNoModule);

    char buffer[2048];
    const int copied = LoadStringA(instance, id, buffer, sizeof buffer);
    if (copied == 0) RaiseResourceError(kExitNoEntry);
    if (copied < 0) RaiseResourceError(kExitNegativeCount);

    // Up to the first zero: an entry may hold one of its own, and LoadStringA stops at 2047.
    assign(buffer, std::find(buffer, buffer + sizeof buffer - 1, '\0'));
    for (const BrandToken& brand : BrandTokenTable) ReplaceAll(brand.token, brand.value);
    return *this;
}

int ResString::ReplaceAll(const char* token, const char* value) {
    if (token == nullptr || value == nullptr) return 0;

    // Each search starts at the right, so an occurrence that a replacement forms across its
    // own edge is replaced too. An occurrence made only of replacement text is passed over:
    // every replacement then uses up at least one character of the text as it was, so the
    // loop ends for any input, an empty token or a value that holds its own token included.
    // No brand value can form a brand token by itself.
    //
    // Right of the text just put in, no occurrence holds an original character (the one
    // replaced was the right-most that did), so the search goes on leftwards from its end.
    // What lies beyond a token's reach from there is parked, last character first, until the
    // end: a value that holds its own token many times would otherwise cost a search from the
    // far end and a shift of the whole string per replacement, minutes for a few kilobytes.
    const std::size_t tokenLength = std::strlen(token);
    const std::size_t valueLength = std::strlen(value);
    std::string untouched(size(), '\1');  // per character: still the text as it was
    std::string parked;
    std::string parkedUntouched;
    const auto park = [&](std::size_t count) {
        parked.append(rbegin(), rbegin() + static_cast<std::ptrdiff_t>(count));
        erase(size() - count);
        parkedUntouched.append(untouched.rbegin(), untouched.rbegin() + static_cast<std::ptrdiff_t>(count));
        untouched.erase(untouched.size() - count);
    };
    const auto unpark = [&](std::size_t count) {
        count = std::min(count, parked.size());
        append(parked.rbegin(), parked.rbegin() + static_cast<std::ptrdiff_t>(count));
        parked.erase(parked.size() - count);
        untouched.append(parkedUntouched.rbegin(), parkedUntouched.rbegin() + static_cast<std::ptrdiff_t>(count));
        parkedUntouched.erase(parkedUntouched.size() - count);
    };

    std::size_t at = rfind(token);
    while (at != npos) {
        if (std::memchr(untouched.data() + at, '\1', tokenLength) != nullptr) {
            park(size() - (at + tokenLength));
            erase(at);
            untouched.erase(at);
            append(value, valueLength);
            untouched.append(valueLength, '\0');
            const std::size_t end = size();
            unpark(tokenLength - 1);
            at = end == 0 ? npos : rfind(token, end - 1);
        } else {
            at = at == 0 ? npos : rfind(token, at - 1);
        }
    }
    unpark(parked.size());
    return 1;
}
