# The release: 32-bit x86 Windows programs. Debian's wine script starts them with the 32-bit
# loader, which also hands 64-bit programs to the 64-bit one (WoW64 scenarios).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WINE_LOADER wine)
set(WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
