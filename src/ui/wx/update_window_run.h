#pragma once

#include "platform/launch.h"
#include "ui/update_settings.h"

// Runs one update dialog in an UpdateWindow, modally, with the toolkit already started; returns
// when the dialog has ended and its transfers are joined: the dialog's exit status.
int RunUpdateWindow(const UpdateSettings& settings, Launcher& launcher);
