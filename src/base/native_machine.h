// The processors the program tells apart, as the platform numbers them (IMAGE_FILE_MACHINE_*).
#pragma once
#include <windows.h>

constexpr USHORT kMachineX86 = 332;
constexpr USHORT kMachineX64 = 34404;
constexpr USHORT kMachineArm64 = 43620;
