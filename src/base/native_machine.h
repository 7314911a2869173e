// The processors the program tells apart, as the platform numbers them (IMAGE_FILE_MACHINE_*).
#pragma once
#include <windows.h>

constexpr USHORT kMachineX86 = 332;
constexpr USHORT kMachineX64 = 34404;
constexpr USHORT kMachineArm64 = 43620;

// The processor this program is built for, which a system without WOW64 runs it on natively.
#ifdef _WIN64
constexpr USHORT kMachineOwn = kMachineX64;
#else
constexpr USHORT kMachineOwn = kMachineX86;
#endif
