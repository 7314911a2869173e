# The resource script of setup.exe and what it is built from.
set(SETUP_RESOURCES ${CMAKE_SOURCE_DIR}/src/res/setup.rc)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
