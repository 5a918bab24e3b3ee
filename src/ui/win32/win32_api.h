#pragma once

// The Win32 API for this library, with the workers' message numbers.
#include <windows.h>

#include "transfer/messages.h"
