#pragma once

#include <windows.h>

// Ends with IDC_AGREE (1000) when the user agrees, IDC_DISAGREE (1001) when the user declines
// or closes the window.
INT_PTR CALLBACK AgreementDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Top-left corner that centres a window on the desktop; halves toward zero, so a window larger
// than the desktop gets a negative offset from the desktop's own left and top.
POINT CentredPosition(const RECT& desktop, const RECT& window);
