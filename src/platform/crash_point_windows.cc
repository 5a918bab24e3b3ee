#include <windows.h>

#include <cstdlib>

#include "platform/crash_point.h"

void KillThisProcess() {
  // Exit status 9, as a shell reports a process killed by SIGKILL's number.
  TerminateProcess(GetCurrentProcess(), 9);
  std::abort();  // not reached: termination of the own process does not return
}
