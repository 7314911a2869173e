# The same programs for x64, for the tests and the bench on machines that run no 32-bit code.
# Wine's 64-bit loader, called by its path: Debian's wine script prefers the 32-bit one
# whenever it is installed, and that one cannot start on such a machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(WINE_LOADER /usr/lib/wine/wine64)
set(WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
