#include <exception>

#include <windows.h>

#include "text/res_string.h"

namespace {

// A text that cannot be loaded is a broken build, and nothing catches it. Left to the runtime,
// abort() on a GUI program puts up a message box of its own and waits; end at once instead,
// with the error's code (1, 2 or 4) as the exit code, and 3 (abort's) for anything else.
[[noreturn]] void EndOnUnhandledError() {
    UINT code = 3;
    try {
        if (const std::exception_ptr error = std::current_exception()) std::rethrow_exception(error);
    } catch (ResourceError error) {
        code = error;
    } catch (...) {
    }
    ExitProcess(code);
}

const std::terminate_handler kPreviousHandler = std::set_terminate(EndOnUnhandledError);

}  // namespace
