#include "system/large_disk_setting.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "atapi_key.h"
#include "fake_win32.h"

namespace {

const std::string kAllAccess = std::to_string(KEY_ALL_ACCESS);
const LONG kCantWrite = 1013;  // ERROR_CANTWRITE: a status the product must pass on untouched

struct Stored {
    bool key;
    bool value;
    DWORD type;
    std::vector<BYTE> data;
};

void Prepare(const Stored& stored) {
    fake::Reset();
    if (stored.value)
        fake::SetValue(kAtapiKey, kBigLbaValue, stored.type, stored.data);
    else if (stored.key)
        fake::AddKey(kAtapiKey);
}

const Stored kNoKey = {false, false, REG_NONE, {}};
const Stored kKeyOnly = {true, false, REG_NONE, {}};
const Stored kDwordZero = {true, true, REG_DWORD, {0, 0, 0, 0}};
const Stored kLongBinary = {true, true, REG_BINARY, {1, 1, 1, 1, 1}};

TEST(ReadLargeDiskSetting, InterpretsWhatTheKeyHolds) {
    struct Case {
        const char* name;
        Stored stored;
        LONG openError;
        bool expected;
    } const cases[] = {
        {"missing key", kNoKey, ERROR_SUCCESS, false},
        {"key without value", kKeyOnly, ERROR_SUCCESS, false},
        {"dword 0", kDwordZero, ERROR_SUCCESS, false},
        {"dword 1", {true, true, REG_DWORD, {1, 0, 0, 0}}, ERROR_SUCCESS, true},
        {"only the high byte set", {true, true, REG_DWORD, {0, 0, 0, 0x80}}, ERROR_SUCCESS, true},
        {"one-byte binary", {true, true, REG_BINARY, {7}}, ERROR_SUCCESS, true},
        {"two zero bytes", {true, true, REG_BINARY, {0, 0}}, ERROR_SUCCESS, false},
        {"empty binary", {true, true, REG_BINARY, {}}, ERROR_SUCCESS, false},
        {"string \"1\"", {true, true, REG_SZ, {'1', 0}}, ERROR_SUCCESS, true},
        {"five bytes", kLongBinary, ERROR_SUCCESS, false},
        {"qword 1", {true, true, REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}, ERROR_SUCCESS, false},
        {"open refused", {true, true, REG_DWORD, {1, 0, 0, 0}}, ERROR_ACCESS_DENIED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(c.stored);
        fake::state().openError = c.openError;

        EXPECT_EQ(ReadLargeDiskSetting(), c.expected);

        const auto opens = fake::CallsTo("RegOpenKeyExA");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].args, (std::vector<std::string>{"HKLM", kAtapiSubKey, "0", kAllAccess, "ptr"}));
        const auto queries = fake::CallsTo("RegQueryValueExA");
        if (c.stored.key && c.openError == ERROR_SUCCESS) {
            ASSERT_EQ(queries.size(), 1u);
            EXPECT_EQ(queries[0].args, (std::vector<std::string>{"key", kBigLbaValue, "null", "null", "ptr", "4"}));
            EXPECT_EQ(fake::state().queryBufferOnEntry, (std::vector<BYTE>{0, 0, 0, 0}));
        } else {
            EXPECT_TRUE(queries.empty());
        }
        EXPECT_TRUE(fake::state().openKeys.empty()) << fake::state().openKeys.size() << " key(s) left open";
    }
}

TEST(WriteLargeDiskSetting, StoresDwordOneOrPassesTheRefusalOn) {
    struct Case {
        const char* name;
        Stored stored;
        LONG createError;
        LONG setError;
        DWORD expectedStatus;
    } const cases[] = {
        {"missing key", kNoKey, ERROR_SUCCESS, ERROR_SUCCESS, 0},
        {"key without value", kKeyOnly, ERROR_SUCCESS, ERROR_SUCCESS, 0},
        {"dword 0", kDwordZero, ERROR_SUCCESS, ERROR_SUCCESS, 0},
        {"longer binary", kLongBinary, ERROR_SUCCESS, ERROR_SUCCESS, 0},
        {"string", {true, true, REG_SZ, {'o', 'f', 'f', 0}}, ERROR_SUCCESS, ERROR_SUCCESS, 0},
        {"create refused, no key", kNoKey, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
        {"create refused, dword 0", kDwordZero, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
        {"create refused, volatile parent", kNoKey, ERROR_CHILD_MUST_BE_VOLATILE, ERROR_SUCCESS,
         ERROR_CHILD_MUST_BE_VOLATILE},
        {"set refused", kDwordZero, ERROR_SUCCESS, kCantWrite, kCantWrite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(c.stored);
        fake::state().createError = c.createError;
        fake::state().setError = c.setError;

        EXPECT_EQ(WriteLargeDiskSetting(), c.expectedStatus);

        const auto creates = fake::CallsTo("RegCreateKeyExA");
        ASSERT_EQ(creates.size(), 1u);
        EXPECT_EQ(creates[0].args, (std::vector<std::string>{"HKLM", kAtapiSubKey, "0", "", "0", kAllAccess,
                                                             "null", "ptr", "null"}));
        const auto sets = fake::CallsTo("RegSetValueExA");
        if (c.createError == ERROR_SUCCESS) {
            ASSERT_EQ(sets.size(), 1u);
            EXPECT_EQ(sets[0].args, (std::vector<std::string>{"key", kBigLbaValue, "0", "4", "1 0 0 0", "4"}));
        } else {
            EXPECT_TRUE(sets.empty());
            EXPECT_EQ(fake::KeyExists(kAtapiKey), c.stored.key);
        }
        EXPECT_TRUE(fake::state().openKeys.empty()) << fake::state().openKeys.size() << " key(s) left open";

        const auto after = fake::GetValue(kAtapiKey, kBigLbaValue);
        if (c.expectedStatus == 0) {
            ASSERT_TRUE(after.has_value());
            EXPECT_EQ(after->type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(after->data, (std::vector<BYTE>{1, 0, 0, 0}));
            EXPECT_TRUE(ReadLargeDiskSetting());
        } else if (c.stored.value) {
            ASSERT_TRUE(after.has_value());
            EXPECT_EQ(after->data, c.stored.data) << "a refused write changed the value";
        }
    }
}

}  // namespace
