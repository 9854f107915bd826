#include "system/restart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win32.h"

namespace {

using Args = std::vector<std::string>;

// The token and restart calls in the order they were made.
std::vector<std::string> PrivilegeSequence() {
    std::vector<std::string> names;
    for (const fake::Call& call : fake::state().calls)
        if (call.function == "OpenProcessToken" || call.function == "LookupPrivilegeValueA" ||
            call.function == "AdjustTokenPrivileges" || call.function == "ExitWindowsEx")
            names.push_back(call.function);
    return names;
}

void ExpectOneRestart(bool privilegeHeld) {
    const std::vector<fake::Restart>& restarts = fake::state().restarts;
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0].flags, static_cast<UINT>(EWX_REBOOT)) << "no force flag";
    EXPECT_EQ(restarts[0].reason, 0u);
    EXPECT_EQ(restarts[0].privilegeHeld, privilegeHeld);
}

struct System {
    const char* name;
    fake::Version version;
    bool ntFamily;
};

const System kSystems[] = {
    {"version 5.2, unrecognised", {false, VER_PLATFORM_WIN32_NT, 5, 2, 3790, "Service Pack 1"}, false},
    {"failed version query", {true, VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 1"}, false},
    {"Windows 95", {false, VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x040003B6, ""}, false},
    {"Windows 98", {false, VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A07CE, ""}, false},
    {"Windows Me", {false, VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0x045A0BB8, ""}, false},
    {"Windows NT 4.0", {false, VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6"}, true},
    {"Windows 2000 without a service pack", {false, VER_PLATFORM_WIN32_NT, 5, 0, 2195, ""}, true},
    {"Windows XP SP1", {false, VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 1"}, true},
};

TEST(RestartComputer, EnablesThePrivilegeOnlyOnTheNtFamilyThenRequestsOneReboot) {
    for (const System& system : kSystems) {
        SCOPED_TRACE(system.name);
        fake::Reset();
        fake::state().version = system.version;

        RestartComputer();

        EXPECT_EQ(fake::CountCalls("GetVersionExA"), 1) << "the system is classified afresh";
        ExpectOneRestart(system.ntFamily);
        if (!system.ntFamily) {
            EXPECT_EQ(PrivilegeSequence(), (std::vector<std::string>{"ExitWindowsEx"}));
            continue;
        }
        EXPECT_EQ(PrivilegeSequence(), (std::vector<std::string>{"OpenProcessToken", "LookupPrivilegeValueA",
                                                                 "AdjustTokenPrivileges", "ExitWindowsEx"}));
        EXPECT_EQ(fake::CallsTo("OpenProcessToken")[0].args, (Args{"current process", "40", "ptr"}));
        EXPECT_EQ(fake::CallsTo("LookupPrivilegeValueA")[0].args, (Args{"null", "SeShutdownPrivilege", "ptr"}));
        // token, disable-all, record, size, previous state, returned length; then count, LUID, attributes
        EXPECT_EQ(fake::CallsTo("AdjustTokenPrivileges")[0].args,
                  (Args{"ptr", "0", "ptr", "16", "null", "null", "1", "19", "0", "2"}));
        EXPECT_EQ(fake::state().tokensOpen, 0) << "token left open";
    }
}

struct TokenFailure {
    const char* name;
    bool openFails;
    bool lookupFails;
    int closes;
};

const TokenFailure kTokenFailures[] = {
    {"token cannot be opened", true, false, 0},
    {"privilege cannot be looked up", false, true, 1},
};

TEST(RestartComputer, TokenFailuresSkipTheAdjustmentButStillRequestTheReboot) {
    for (const TokenFailure& failure : kTokenFailures) {
        SCOPED_TRACE(failure.name);
        fake::Reset();
        fake::state().tokenOpenFails = failure.openFails;
        fake::state().privilegeLookupFails = failure.lookupFails;

        RestartComputer();

        EXPECT_EQ(fake::CountCalls("AdjustTokenPrivileges"), 0);
        EXPECT_EQ(fake::CountCalls("CloseHandle"), failure.closes) << "only a token that was opened is closed";
        EXPECT_EQ(fake::state().tokensOpen, 0);
        ExpectOneRestart(false);
    }
}

}  // namespace
