// Times programs from their start until their first window is on the screen, under Wine:
// starts each program, polls for a visible dialog-class window with the given caption, then
// closes it. The programs take turns, after one untimed run each to warm the caches.
//
//   startup_timer.exe RUNS PROGRAM CAPTION [PROGRAM CAPTION]...
//
// Prints one line per program: its path, the median and every run, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const DWORD kGiveUpMs = 30000;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the window showed, or a negative number if it never did.
double TimeOneRun(const std::string& program, const std::string& caption) {
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const double started = Now();
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", program.c_str(), GetLastError());
        return -1;
    }
    HWND window = nullptr;
    double shown = -1;
    while (Now() - started < kGiveUpMs) {
        window = FindWindowA("#32770", caption.c_str());
        if (window != nullptr && IsWindowVisible(window)) {
            shown = Now() - started;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (shown < 0) std::fprintf(stderr, "%s never showed \"%s\"\n", program.c_str(), caption.c_str());
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM CAPTION [PROGRAM CAPTION]...\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const int programs = (argc - 2) / 2;
    std::vector<std::vector<double>> times(programs);
    for (int run = -1; run < runs; ++run) {
        for (int p = 0; p < programs; ++p) {
            const double ms = TimeOneRun(argv[2 + 2 * p], argv[3 + 2 * p]);
            if (ms < 0) return 1;
            if (run >= 0) times[p].push_back(ms);
        }
    }
    for (int p = 0; p < programs; ++p) {
        std::vector<double> sorted = times[p];
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        std::printf("%s\t%.1f\t", argv[2 + 2 * p], median);
        for (double ms : times[p]) std::printf(" %.1f", ms);
        std::printf("\n");
    }
    return 0;
}
