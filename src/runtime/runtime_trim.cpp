// Linked into Halvenor.exe only, ahead of the statically linked C++ runtime, so the linker
// takes these definitions and leaves the runtime's own out.
//
// The stock versions construct std::length_error and friends, whose copy-on-write message
// strings bring in the old string instantiations and std::random_device; the stock default
// terminate handler brings in the name demangler and the printf family with its locale
// support. Together that was more than half the image, and it added imports (code-page
// conversion, setlocale, localeconv, low-level file reads) that the program has no use for.
//
// Nothing in the program catches a string's length or allocation error: each already ended
// in std::terminate, and so in the handler from unhandled_error.cpp with exit code 3.
// Ending there directly behaves the same without building the exception object first.
#include <bits/functexcept.h>

#include <cstdlib>
#include <exception>

namespace std {

void __throw_bad_alloc() { std::terminate(); }
void __throw_logic_error(const char*) { std::terminate(); }
void __throw_length_error(const char*) { std::terminate(); }
void __throw_out_of_range_fmt(const char*, ...) { std::terminate(); }

}  // namespace std

// The handler in force before unhandled_error.cpp installs its own while the program starts.
// The stock one writes the exception's demangled type name to stderr, which a GUI program
// does not have, before calling abort().
namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
