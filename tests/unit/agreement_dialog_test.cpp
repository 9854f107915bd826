#include "dialog/agreement_dialog.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_win32.h"
#include "resource.h"
#include "text/res_string.h"

namespace {

const char kTerms[] = "Terms, line one\r\nline two";

void Prepare() {
    fake::Reset();
    g_instance = fake::kModule;
    fake::state().strings[1] = "Caption of OEMNAME";
    fake::state().strings[13] = "Heading\n\nfor OEMNAME";
    fake::state().resources["TXT/IDR_LICENSE"] = kTerms;
}

INT_PTR RunDialog(std::vector<fake::Message> messages) {
    fake::state().dialogMessages = std::move(messages);
    return DialogBoxParamA(fake::kModule, MAKEINTRESOURCEA(103), nullptr, AgreementDialogProc, 0);
}

// The calls of a run as "Function(arg,arg)", without the size look-up the terms copy may make.
std::vector<std::string> Trace() {
    std::vector<std::string> trace;
    for (const fake::Call& call : fake::state().calls) {
        if (call.function == "SizeofResource") continue;
        std::string line = call.function + "(";
        for (std::size_t i = 0; i < call.args.size(); ++i) line += (i ? "," : "") + call.args[i];
        trace.push_back(line + ")");
    }
    return trace;
}

std::string Show(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(CentredPosition, HalvesTheSpareRoomTowardZeroFromTheDesktopsCorner) {
    struct Case {
        RECT desktop;
        RECT window;
        LONG x, y;
    } const cases[] = {
        {{0, 0, 1024, 768}, {0, 0, 642, 518}, 191, 125},
        {{0, 0, 1024, 768}, {300, 400, 942, 918}, 191, 125},
        {{0, 0, 640, 480}, {0, 0, 640, 480}, 0, 0},
        {{0, 0, 105, 100}, {0, 0, 100, 97}, 2, 1},
        // Larger than the desktop: -3 moves by -1, not -2.
        {{0, 0, 100, 100}, {0, 0, 103, 103}, -1, -1},
        {{0, 0, 100, 100}, {10, 20, 201, 125}, -45, -2},
        {{100, 50, 1124, 818}, {0, 0, 101, 2}, 561, 433},
        {{-1280, -20, 0, 1004}, {0, 0, 200, 1031}, -740, -23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("desktop " + Show(c.desktop) + " window " + Show(c.window));
        const POINT at = CentredPosition(c.desktop, c.window);
        EXPECT_EQ(at.x, c.x);
        EXPECT_EQ(at.y, c.y);
    }
}

TEST(AgreementDialog, InitialisesInOrderAndShowsTheTermsExactly) {
    Prepare();
    fake::state().desktop = {100, 200, 1124, 968};
    fake::state().dialog = {0, 0, 641, 517};
    EXPECT_EQ(RunDialog({{WM_COMMAND, IDC_AGREE, 0}}), IDC_AGREE);

    // The terms are handed out without a terminator and followed by other bytes.
    const std::vector<std::string> expected = {
        "DialogBoxParamA(ptr,#103,null,ptr,0)",
        "SetWindowPos(ptr,null,291,325,0,0,1)",
        "LoadStringA(ptr,13,ptr,2048)",
        "SetDlgItemTextA(ptr,1003,Heading\n\nfor Torvane)",
        "LoadStringA(ptr,1,ptr,2048)",
        "SetWindowTextA(ptr,Caption of Torvane)",
        "FindResourceA(ptr,IDR_LICENSE,TXT)",
        "LoadResource(ptr,ptr)",
        "LockResource(ptr)",
        std::string("SetDlgItemTextA(ptr,1002,") + kTerms + ")",
        "EndDialog(ptr,1000)",
    };
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(Show(fake::state().dialog), "291,325,932,842");
    EXPECT_EQ(fake::state().dialogCaption, "Caption of Torvane");
    EXPECT_EQ(fake::state().dialogProcResults, (std::vector<INT_PTR>{TRUE, TRUE}));
}

TEST(AgreementDialog, WithoutTheTermsLeavesTheBoxEmptyAndStillAgrees) {
    struct Case {
        const char* name;
        bool found;
        bool locks;
        int loads;  // LoadResource calls: nothing is loaded that was not found
    } const cases[] = {
        {"no such resource", false, true, 0},
        {"found and loaded, not locked", true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare();
        if (!c.found) fake::state().resources.clear();
        fake::state().lockResourceFails = !c.locks;
        EXPECT_EQ(RunDialog({{WM_COMMAND, IDC_AGREE, 0}}), IDC_AGREE);
        const auto terms = fake::state().controlTexts.find(IDC_TERMS);
        EXPECT_TRUE(terms == fake::state().controlTexts.end()) << "terms shown: " << terms->second;
        EXPECT_EQ(fake::CountCalls("LoadResource"), c.loads);
        EXPECT_EQ(fake::state().dialogProcResults.front(), TRUE);
    }
}

TEST(AgreementDialog, AMissingHeadingIsNotSwallowed) {
    Prepare();
    fake::state().strings.erase(13);
    ResourceError raised = 0xdeadbeef;
    try {
        RunDialog({{WM_COMMAND, IDC_AGREE, 0}});
    } catch (ResourceError error) {
        raised = error;
    }
    EXPECT_EQ(raised, 2u);
}

TEST(AgreementDialog, EndsOnlyOnTheTwoButtonsAndOnClose) {
    const INT_PTR kStillOpen = -999;  // what the double returns when nothing ended the dialog
    struct Case {
        const char* name;
        std::vector<fake::Message> messages;
        INT_PTR result;
        std::vector<INT_PTR> procResults;  // after WM_INITDIALOG's
    } const cases[] = {
        {"agree", {{WM_COMMAND, 1000, 0}}, 1000, {TRUE}},
        {"agree with the button's handle", {{WM_COMMAND, 1000, 0x3030}}, 1000, {TRUE}},
        {"disagree", {{WM_COMMAND, 1001, 0}}, 1001, {TRUE}},
        {"close", {{WM_CLOSE, 0, 0}}, 1001, {TRUE}},
        {"Esc, then agree", {{WM_COMMAND, IDCANCEL, 0}, {WM_COMMAND, 1000, 0}}, 1000, {FALSE, TRUE}},
        {"Enter", {{WM_COMMAND, IDOK, 0}}, kStillOpen, {FALSE}},
        {"1000 with a notification code", {{WM_COMMAND, (1 << 16) | 1000, 0}}, kStillOpen, {FALSE}},
        {"1001 with a notification code", {{WM_COMMAND, (5 << 16) | 1001, 0}}, kStillOpen, {FALSE}},
        {"another message carrying 1000", {{0x0200, 1000, 0}}, kStillOpen, {FALSE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare();
        EXPECT_EQ(RunDialog(c.messages), c.result);
        std::vector<INT_PTR> procResults = {TRUE};
        procResults.insert(procResults.end(), c.procResults.begin(), c.procResults.end());
        EXPECT_EQ(fake::state().dialogProcResults, procResults);
        EXPECT_EQ(fake::CountCalls("EndDialog"), c.result == kStillOpen ? 0 : 1);
    }
}

}  // namespace
