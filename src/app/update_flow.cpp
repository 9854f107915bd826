#include "app/update_flow.h"

#include <windows.h>

#include "dialog/agreement_dialog.h"
#include "resource.h"
#include "system/large_disk_setting.h"
#include "system/os_version.h"
#include "system/restart.h"
#include "text/res_string.h"

namespace {

// No owner: the program has no main window. Both texts are loaded afresh for every box,
// caption first.
int ShowMessage(UINT textId, UINT captionId, UINT style) {
    ResString caption;
    caption.Load(g_instance, captionId);
    ResString text;
    text.Load(g_instance, textId);
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

}  // namespace

bool OfferEnable() {
    if (ShowMessage(IDS_ENABLE_PROMPT, IDS_TITLE, MB_YESNO) != IDYES) return false;
    if (WriteLargeDiskSetting() != ERROR_SUCCESS) {
        ShowMessage(IDS_WRITE_FAILED, IDS_ERROR_CAPTION, MB_OK | MB_ICONWARNING);
        return false;
    }
    return ShowMessage(IDS_RESTART_PROMPT, IDS_RESTART_CAPTION, MB_YESNO) == IDYES;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_instance = instance;

    // -1 (the dialog could not be created) ends the program as quietly as declining does.
    if (DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_AGREEMENT), nullptr, AgreementDialogProc, 0) != IDC_AGREE)
        return 0;

    switch (CheckApplicability()) {
    case NotApplicable:
        ShowMessage(IDS_NOT_APPLICABLE, IDS_TITLE, MB_OK);
        break;
    case AlreadyEnabled:
        ShowMessage(IDS_ALREADY_ENABLED, IDS_TITLE, MB_OK);
        break;
    case NotEnabled:
        if (OfferEnable()) RestartComputer();
        break;
    }
    return 0;
}
