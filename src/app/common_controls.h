// Registers the progress bar's window class from comctl32, whatever its version.
#pragma once
#include <windows.h>

// Uses InitCommonControlsEx where the library has it (4.70 and later), otherwise
// InitCommonControls, which every version exports. False when the library has neither.
bool InitProgressBarClass(HMODULE comctl32);
