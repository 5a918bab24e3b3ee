#pragma once

#include "ui/update_settings.h"

// Runs the update dialog in a wxWidgets window, modally. Returns the exit status (0 after a
// finished run), or -1 when the display cannot be opened (the caller falls back to the terminal).
int RunWxFrontEnd(int argc, char** argv, const UpdateSettings& settings);
