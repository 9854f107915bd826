// Brand-token replacement and string loading on arbitrary texts, tokens and values, empty ones
// and values that contain their own token included. Input layout:
//   byte 0   bit 0: null token, bit 1: null value, bit 2: load with a null module,
//            bit 3: the loader reports a negative count instead of copying
//   then     token, a zero byte, value, a zero byte, text (which may hold zero bytes itself)
// Besides not crashing and not hanging, ReplaceAll must report what it did, grow the string
// no further than replacing each of the text's own characters once allows, and on small
// inputs give what the rule in its plainest form gives; Load must fail with one of its three
// codes and leave the string as it was, or succeed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_win32.h"
#include "text/res_string.h"

namespace {

const UINT kId = 7;
const char kSentinel[] = "sentinel text that Load must leave alone";

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The right-most occurrence that still holds a character of the original text is replaced,
// and the search starts again from the end, until no such occurrence is left.
std::string Plainly(const std::string& text, const std::string& token, const std::string& value) {
    std::string result = text;
    std::vector<bool> original(text.size(), true);
    for (;;) {
        std::size_t found = std::string::npos;
        for (std::size_t at = result.size() + 1; !token.empty() && at-- > 0;) {
            if (result.compare(at, token.size(), token) == 0 &&
                std::find(original.begin() + at, original.begin() + at + token.size(), true) !=
                    original.begin() + at + token.size()) {
                found = at;
                break;
            }
        }
        if (found == std::string::npos) return result;
        result.replace(found, token.size(), value);
        original.erase(original.begin() + found, original.begin() + found + token.size());
        original.insert(original.begin() + found, value.size(), false);
    }
}

std::string TakeField(const std::uint8_t*& at, const std::uint8_t* end) {
    const std::uint8_t* zero = static_cast<const std::uint8_t*>(std::memchr(at, 0, end - at));
    const std::uint8_t* stop = zero != nullptr ? zero : end;
    std::string field(at, stop);
    at = zero != nullptr ? zero + 1 : end;
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t* at = data + 1;
    const std::uint8_t* const end = data + size;
    const std::string token = TakeField(at, end);
    const std::string value = TakeField(at, end);
    const std::string text(at, end);

    ResString replaced;
    replaced.assign(text);
    const char* tokenArgument = (flags & 1) ? nullptr : token.c_str();
    const char* valueArgument = (flags & 2) ? nullptr : value.c_str();
    const int result = replaced.ReplaceAll(tokenArgument, valueArgument);
    if (tokenArgument == nullptr || valueArgument == nullptr) {
        Require(result == 0, "ReplaceAll with a null argument returned other than 0");
        Require(replaced == text, "ReplaceAll with a null argument changed the string");
    } else {
        Require(result == 1, "ReplaceAll returned other than 1");
        Require(replaced.size() <= text.size() + text.size() * value.size(),
                "the string grew past one replacement per character");
        if (token.empty() || text.find(token) == std::string::npos)
            Require(replaced == text, "a text without the token changed");
        if (text.size() * (value.size() + 1) <= 1024)
            Require(replaced == Plainly(text, token, value), "ReplaceAll differs from the plain rule");
    }

    fake::Reset();
    fake::state().strings[kId] = text;
    if (flags & 8) fake::state().loaderResults[kId] = -1;
    ResString loaded;
    loaded.assign(kSentinel);
    try {
        loaded.Load((flags & 4) ? nullptr : fake::kModule, kId);
        Require(!(flags & 4) && !(flags & 8) && !text.empty(), "Load succeeded where it must fail");
    } catch (ResourceError error) {
        Require(error == 1 || error == 2 || error == 4, "Load raised an unknown code");
        Require(loaded == kSentinel, "a failed Load changed the string");
    }
    return 0;
}
