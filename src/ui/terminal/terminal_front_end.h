#pragma once

#include "ui/update_settings.h"

// Runs the update dialog in the terminal: log lines on standard output, status and progress on
// standard error, choices on standard input. Returns the exit status (0 after a finished run).
int RunTerminalFrontEnd(const UpdateSettings& settings);
