#pragma once

// A test hook for crash tests: when LODESTAR_TEST_KILL_AT=N is set in the environment, the Nth
// call in the process kills the process outright (SIGKILL; on Windows TerminateProcess), as a
// power cut would stop it there. Without the variable it does nothing. Any thread.
void CrashPoint();

// Ends this process at once: no destructors, no stream buffers flushed. Any thread.
[[noreturn]] void KillThisProcess();
