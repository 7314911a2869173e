// Telling the user why Windows Installer failed: its own text for the code from msimsg.dll,
// or this program's message naming the code.
#pragma once
#include <windows.h>

// Shows at most one error box for a non-zero result of installing a package or applying a
// patch; cancellations, fatal errors already reported by the installer, suspensions,
// compatibility blocks and restart notices show nothing.
void ReportInstallerResult(UINT code);
