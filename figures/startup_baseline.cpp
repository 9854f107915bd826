// The smallest program that puts a window on the screen as Halvenor does, built with the
// same flags: the yardstick for Halvenor's start-up time (scripts/figures).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(nullptr, "Start-up yardstick", "Halvenor baseline", MB_OK);
    return 0;
}
