#pragma once

// The Win32 API for this library. The workers' message numbers come first: their header names
// WM_USER as a constant, which windows.h then defines as a macro of the same value; the other way
// round the constant's declaration would not compile.
#include "transfer/messages.h"

#include <windows.h>
