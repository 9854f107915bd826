#include "text/res_string.h"

#include <string>

#include <gtest/gtest.h>

#include "fake_win32.h"

namespace {

const UINT kId = 20;

// Loads text as string-table entry kId into a string that held "before".
std::string Loaded(const std::string& text) {
    fake::Reset();
    fake::state().strings[kId] = text;
    ResString loaded;
    loaded.assign("before");
    EXPECT_EQ(&loaded.Load(fake::kModule, kId), &loaded);
    return loaded;
}

TEST(ResStringLoad, ReplacesEveryBrandToken) {
    struct Case {
        std::string text;
        const char* expected;
    } const cases[] = {
        {"no token at all", "no token at all"},
        {"XOEMNAMEY", "XTorvaneY"},
        {"DOSAPPNAME WINAPPNAME APPNAME", "Velmora for DOS Velmora Velmora Online"},
        {"BMNAME, then BMNAME", "Brisal, then Brisal"},
        {"OEMNAMEBMNAME\n\nOEMNAME", "TorvaneBrisal\n\nTorvane"},
        {"oemname Oemname OEMNAMe", "oemname Oemname OEMNAMe"},
        // "DOS" from the first value and the "APPNAME" after it form a new "DOSAPPNAME".
        {"DOSAPPNAMEAPPNAME", "Velmora for Velmora for DOS"},
        // The loader counts past a zero inside the entry; the text ends at that zero all the same.
        {std::string("OEMNAME\0OEMNAME", 15), "Torvane"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Loaded(c.text), c.expected);
    }
}

TEST(ResStringLoad, KeepsAtMost2047CharactersOfAnEntry) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + i % 26);
    EXPECT_EQ(Loaded(text.substr(0, 2047)), text.substr(0, 2047));
    EXPECT_EQ(Loaded(text), text.substr(0, 2047));
    // Tokens are replaced after the cut, so a text may grow past the loader's limit.
    EXPECT_EQ(Loaded(std::string(2037, '.') + "DOSAPPNAME"), std::string(2037, '.') + "Velmora for DOS");
}

TEST(ResStringLoad, RaisesAndLeavesTheStringAsItWas) {
    struct Case {
        const char* name;
        HINSTANCE instance;
        bool entryPresent;
        const char* entry;
        int forcedResult;  // 0: the loader runs normally
        ResourceError expected;
    } const cases[] = {
        {"no such entry", fake::kModule, false, "", 0, 2},
        {"empty entry", fake::kModule, true, "", 0, 2},
        {"negative count", fake::kModule, true, "text", -1, 4},
        {"null module", nullptr, true, "text", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        if (c.entryPresent) fake::state().strings[kId] = c.entry;
        if (c.forcedResult != 0) fake::state().loaderResults[kId] = c.forcedResult;
        ResString text;
        text.assign("sentinel");
        ResourceError raised = 0xdeadbeef;
        try {
            text.Load(c.instance, kId);
        } catch (ResourceError error) {
            raised = error;
        }
        EXPECT_EQ(raised, c.expected);
        EXPECT_EQ(std::string(text), "sentinel");
        EXPECT_EQ(fake::CountCalls("LoadStringA"), c.instance == nullptr ? 0 : 1);
    }
}

TEST(ResStringReplaceAll, ReplacesRightMostFirstUntilNoneIsLeft) {
    struct Case {
        const char* text;
        const char* token;
        const char* value;
        const char* expected;
    } const cases[] = {
        {"a-b-a", "a", "xyz", "xyz-b-xyz"},
        {"abcabc", "abc", "", ""},
        {"", "x", "y", ""},
        {"TOKEN", "TOKEN", "t", "t"},
        // Each replacement forms a new occurrence across its left edge.
        {"aabb", "ab", "a", "aa"},
        // Without a rule for these, the search from the end would never finish.
        {"ab", "", "x", "ab"},
        {"aXa", "a", "aa", "aaXaa"},
        {"aab", "ab", "bbaa", "bbaabaa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.token + " -> " + c.value);
        ResString text;
        text.assign(c.text);
        EXPECT_EQ(text.ReplaceAll(c.token, c.value), 1);
        EXPECT_EQ(std::string(text), c.expected);
    }
}

TEST(ResStringReplaceAll, NullArgumentChangesNothing) {
    const char* const arguments[][2] = {{nullptr, "x"}, {"a", nullptr}, {nullptr, nullptr}};
    for (const auto& argument : arguments) {
        SCOPED_TRACE(std::string(argument[0] ? "token" : "null token") + ", " + (argument[1] ? "value" : "null value"));
        ResString text;
        text.assign("a b a");
        EXPECT_EQ(text.ReplaceAll(argument[0], argument[1]), 0);
        EXPECT_EQ(std::string(text), "a b a");
    }
}

}  // namespace
