#pragma once

// Halvenor.exe's exit codes. Every road of the flow ends with 0; each of these ends the
// program at once, without a window, and tells a script or an installer why.

// A text the string table cannot give (ResString::Load): a broken build.
constexpr unsigned kExitNoModule = 1;       // no module to load it from
constexpr unsigned kExitNoEntry = 2;        // no such entry, or an empty one
constexpr unsigned kExitNegativeCount = 4;  // the loader reported a negative count

// Memory ran out, or a string was asked to grow past its maximum: the code msvcrt's abort gives.
constexpr unsigned kExitAborted = 3;

// At the start, before any DLL but KERNEL32 is loaded (runtime/system_dlls.cpp).
constexpr unsigned kExitRedirected = 5;  // <program>.local or <program>.manifest exists
constexpr unsigned kExitUnbound = 6;     // the system folder, USER32, ADVAPI32 or one of their functions is missing
