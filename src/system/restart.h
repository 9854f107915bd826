#pragma once

// On the NT family a process may restart the machine only with the shutdown privilege enabled
// in its token; the Windows 95 family has no such thing. Failures are silent by design: the
// restart simply does not happen and the value already written stays.
void EnableShutdownPrivilege();
void RestartComputer();
