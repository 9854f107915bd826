#include "app/update_flow.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "atapi_key.h"
#include "fake_win32.h"
#include "text/res_string.h"

namespace {

struct ExpectedBox {
    UINT text;
    UINT caption;
    UINT style;
};
const ExpectedBox kNotApplicable = {2, 1, MB_OK};
const ExpectedBox kAlreadyEnabled = {4, 1, MB_OK};
const ExpectedBox kEnablePrompt = {6, 1, MB_YESNO};
const ExpectedBox kWriteFailed = {11, 12, MB_OK | MB_ICONWARNING};
const ExpectedBox kRestartPrompt = {8, 9, MB_YESNO};

std::string Placeholder(UINT id) { return "text " + std::to_string(id); }

// XP SP1 with an empty registry, every string present, and a user who agrees.
void PrepareMachine() {
    fake::Reset();
    g_instance = nullptr;
    for (UINT id : {1u, 2u, 4u, 6u, 8u, 9u, 11u, 12u, 13u}) fake::state().strings[id] = Placeholder(id);
    fake::state().dialogMessages = {{WM_COMMAND, 1000, 0}};
}

int RunProgram(const char* commandLine = "ignored", int showMode = 1) {
    std::string line = commandLine;
    return WinMain(fake::kModule, nullptr, &line[0], showMode);
}

void Answer(std::initializer_list<int> answers) { fake::state().answers.assign(answers); }

void SetVersion(DWORD major, DWORD minor, const char* csd) {
    fake::state().version.major = major;
    fake::state().version.minor = minor;
    fake::state().version.csd = csd;
}

// String-table ids loaded once the agreement dialog has ended, in order.
std::vector<UINT> IdsLoadedAfterDialog() {
    std::vector<UINT> ids;
    for (const fake::Call& call : fake::state().calls) {
        if (call.function == "DialogBoxParamA" || call.function == "EndDialog") ids.clear();
        if (call.function == "LoadStringA") ids.push_back(static_cast<UINT>(std::stoul(call.args[1])));
    }
    return ids;
}

std::string Describe(const std::vector<fake::Box>& boxes) {
    std::string out;
    for (const fake::Box& box : boxes)
        out += "[" + box.caption + " | " + box.text + " | " + std::to_string(box.style) + "] ";
    return out;
}

std::string CallLog() {
    std::string out;
    for (const fake::Call& call : fake::state().calls) {
        out += call.function + "(";
        for (const std::string& arg : call.args) out += arg + ",";
        out += ")\n";
    }
    return out;
}

struct Road {
    const char* name;
    void (*arrange)();
    std::vector<ExpectedBox> boxes;
    bool readsSetting;
    bool triesWrite;
    std::optional<DWORD> valueAfter;
    std::size_t restarts;
};

void PrintTo(const Road& road, std::ostream* out) { *out << road.name; }

// Answers beyond the last box the road should show are Yes, so a flow that goes on too far
// shows an extra box or restarts.
const Road kRoads[] = {
    {"Declined", [] { fake::state().dialogMessages = {{WM_COMMAND, 1001, 0}}; }, {}, false, false, std::nullopt, 0},
    {"DialogClosed", [] { fake::state().dialogMessages = {{WM_CLOSE, 0, 0}}; }, {}, false, false, std::nullopt, 0},
    {"DialogNotCreated", [] { fake::state().dialogCreationFails = true; }, {}, false, false, std::nullopt, 0},
    {"NotApplicableXpWithoutServicePack",
     [] {
         SetVersion(5, 1, "");
         fake::SetDword(kAtapiKey, kBigLbaValue, 0xdeadbeef);
         Answer({IDYES, IDYES});
     },
     {kNotApplicable}, false, false, 0xdeadbeef, 0},
    {"NotApplicable2000Sp2",
     [] {
         SetVersion(5, 0, "Service Pack 2");
         Answer({IDYES, IDYES});
     },
     {kNotApplicable}, false, false, std::nullopt, 0},
    {"AlreadyEnabled",
     [] {
         fake::SetDword(kAtapiKey, kBigLbaValue, 1);
         Answer({IDYES, IDYES});
     },
     {kAlreadyEnabled}, true, false, 1, 0},
    {"EnableAnsweredNo", [] { Answer({IDNO, IDYES}); }, {kEnablePrompt}, true, false, std::nullopt, 0},
    // MessageBoxA returns 0 when it cannot show the box: no answer at all, so no consent.
    {"EnableBoxFailed", [] { Answer({0, IDYES, IDYES}); }, {kEnablePrompt}, true, false, std::nullopt, 0},
    {"WriteRefused",
     [] {
         fake::state().setError = ERROR_ACCESS_DENIED;
         Answer({IDYES, IDYES, IDYES});
     },
     {kEnablePrompt, kWriteFailed}, true, true, std::nullopt, 0},
    // Any refusal counts, not only access denied: a volatile parent takes no lasting subkey.
    {"CreateRefusedUnderVolatileParent",
     [] {
         fake::state().createError = ERROR_CHILD_MUST_BE_VOLATILE;
         Answer({IDYES, IDYES, IDYES});
     },
     {kEnablePrompt, kWriteFailed}, true, true, std::nullopt, 0},
    {"NoRightToOpenKeyForAllAccess",
     [] {
         fake::SetDword(kAtapiKey, kBigLbaValue, 0xdeadbeef);
         fake::state().openError = ERROR_ACCESS_DENIED;
         fake::state().createError = ERROR_ACCESS_DENIED;
         Answer({IDYES, IDYES, IDYES});
     },
     {kEnablePrompt, kWriteFailed}, true, true, 0xdeadbeef, 0},
    {"RestartAnsweredNo",
     [] {
         fake::SetDword(kAtapiKey, kBigLbaValue, 0);
         Answer({IDYES, IDNO, IDYES});
     },
     {kEnablePrompt, kRestartPrompt}, true, true, 1, 0},
    {"RestartBoxFailed", [] { Answer({IDYES, 0, IDYES}); }, {kEnablePrompt, kRestartPrompt}, true, true, 1, 0},
    {"RestartAnsweredYesOn2000Sp3",
     [] {
         SetVersion(5, 0, "Service Pack 3");
         Answer({IDYES, IDYES, IDYES});
     },
     {kEnablePrompt, kRestartPrompt}, true, true, 1, 1},
};

class UpdateFlowRoad : public testing::TestWithParam<Road> {};

TEST_P(UpdateFlowRoad, BoxesRegistryAndRestart) {
    const Road& road = GetParam();
    PrepareMachine();
    road.arrange();

    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(g_instance, fake::kModule);

    const std::vector<fake::Call> dialogs = fake::CallsTo("DialogBoxParamA");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].args, (std::vector<std::string>{"ptr", "#103", "null", "ptr", "0"}));

    const std::vector<fake::Box>& shown = fake::state().boxes;
    ASSERT_EQ(shown.size(), road.boxes.size()) << Describe(shown);
    std::vector<UINT> expectedLoads;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i) + ": " + Describe({shown[i]}));
        EXPECT_EQ(shown[i].owner, nullptr);
        EXPECT_EQ(shown[i].caption, Placeholder(road.boxes[i].caption));
        EXPECT_EQ(shown[i].text, Placeholder(road.boxes[i].text));
        EXPECT_EQ(shown[i].style, road.boxes[i].style);
        expectedLoads.push_back(road.boxes[i].caption);
        expectedLoads.push_back(road.boxes[i].text);
    }
    EXPECT_EQ(IdsLoadedAfterDialog(), expectedLoads) << "caption before text, loaded afresh for every box";

    EXPECT_EQ(fake::CountCalls("RegOpenKeyExA") > 0, road.readsSetting) << CallLog();
    EXPECT_EQ(fake::CountCalls("RegCreateKeyExA") + fake::CountCalls("RegSetValueExA") > 0, road.triesWrite)
        << CallLog();
    const std::optional<fake::RegistryValue> value = fake::GetValue(kAtapiKey, kBigLbaValue);
    ASSERT_EQ(value.has_value(), road.valueAfter.has_value());
    if (value) {
        EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
        const DWORD v = *road.valueAfter;
        EXPECT_EQ(value->data, (std::vector<BYTE>{static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                                                  static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)}));
    }

    const std::vector<fake::Restart>& restarts = fake::state().restarts;
    ASSERT_EQ(restarts.size(), road.restarts);
    for (const fake::Restart& restart : restarts) {
        EXPECT_EQ(restart.flags, static_cast<UINT>(EWX_REBOOT));
        EXPECT_EQ(restart.reason, 0u);
        EXPECT_TRUE(restart.privilegeHeld) << "the shutdown privilege is enabled before the restart request";
    }
}

INSTANTIATE_TEST_SUITE_P(Road, UpdateFlowRoad, testing::ValuesIn(kRoads),
                         [](const testing::TestParamInfo<Road>& info) { return std::string(info.param.name); });

TEST(UpdateFlow, CommandLineAndShowModeChangeNothing) {
    std::string first;
    for (const auto& [commandLine, showMode] :
         std::vector<std::pair<const char*, int>>{{"ignored", 1}, {"", 0}, {"/restart /quiet", 7}}) {
        SCOPED_TRACE(commandLine);
        PrepareMachine();
        Answer({IDYES, IDNO});
        EXPECT_EQ(RunProgram(commandLine, showMode), 0);
        if (first.empty()) first = CallLog();
        EXPECT_EQ(CallLog(), first);
    }
}

TEST(UpdateFlow, RunningAgainAfterEnablingShowsAlreadyEnabled) {
    PrepareMachine();
    Answer({IDYES, IDNO});
    ASSERT_EQ(RunProgram(), 0);
    ASSERT_EQ(fake::state().boxes.size(), 2u) << Describe(fake::state().boxes);

    fake::state().boxes.clear();
    fake::state().calls.clear();
    Answer({IDYES, IDYES});
    EXPECT_EQ(RunProgram(), 0);
    ASSERT_EQ(fake::state().boxes.size(), 1u) << Describe(fake::state().boxes);
    EXPECT_EQ(fake::state().boxes[0].text, Placeholder(kAlreadyEnabled.text));
    EXPECT_EQ(fake::CountCalls("RegCreateKeyExA"), 0);
    EXPECT_TRUE(fake::state().restarts.empty());
}

}  // namespace
