#include "dialog/agreement_dialog.h"

#include <string>

#include "resource.h"
#include "text/res_string.h"

namespace {

void CentreOnDesktop(HWND dialog) {
    RECT desktop;
    RECT window;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &window);
    const POINT at = CentredPosition(desktop, window);
    SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE);
}

// The terms are stored without a terminating zero, so they are copied out bounded by the
// resource's own size. A missing resource leaves the box empty; agreeing still works.
void ShowTerms(HWND dialog) {
    HRSRC found = FindResourceA(g_instance, "IDR_LICENSE", "TXT");
    if (found == nullptr) return;
    HGLOBAL loaded = LoadResource(g_instance, found);
    if (loaded == nullptr) return;
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (bytes == nullptr) return;
    const std::string terms(bytes, SizeofResource(g_instance, found));
    SetDlgItemTextA(dialog, IDC_TERMS, terms.c_str());
}

}  // namespace

POINT CentredPosition(const RECT& desktop, const RECT& window) {
    const long long spareWidth =
        (static_cast<long long>(desktop.right) - desktop.left) - (static_cast<long long>(window.right) - window.left);
    const long long spareHeight =
        (static_cast<long long>(desktop.bottom) - desktop.top) - (static_cast<long long>(window.bottom) - window.top);
    POINT at;
    at.x = static_cast<LONG>(desktop.left + spareWidth / 2);
    at.y = static_cast<LONG>(desktop.top + spareHeight / 2);
    return at;
}

INT_PTR CALLBACK AgreementDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CentreOnDesktop(dialog);
        SetDlgItemTextA(dialog, IDC_HEADING, ResString().Load(g_instance, IDS_AGREEMENT_HEADING).c_str());
        SetWindowTextA(dialog, ResString().Load(g_instance, IDS_TITLE).c_str());
        ShowTerms(dialog);
        // TRUE lets the dialog manager put the focus on the first tab stop, "I Agree".
        return TRUE;
    case WM_COMMAND:
        // The whole wParam: a notification code in its high word is not a button press,
        // and Esc's IDCANCEL is neither button, so it leaves the dialog open.
        if (wParam == IDC_AGREE || wParam == IDC_DISAGREE) {
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, IDC_DISAGREE);
        return TRUE;
    default:
        return FALSE;
    }
}
