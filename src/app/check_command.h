#pragma once

#include <functional>
#include <string>

#include "app/update_app.h"
#include "ui/update_settings.h"

// Lodestar --check: says what Lodestar.cfg was understood to say, then takes every server of the
// list in order through the run's own steps up to its plan (manifest, signature, floor, expiry,
// the files and bytes a run would fetch), a line each, without a window and without writing
// anything beside the application. print gets each line in the process's language. Returns the
// exit status: 0 when a run would work from the server it would use (the last of the list), 1
// otherwise. Main thread, with the HTTP layer started.
int RunCheck(const UpdateApp& app, const UpdateSettings& settings,
             const std::function<void(const std::string& line)>& print);
