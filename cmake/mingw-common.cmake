# Cross build for Windows with the MinGW-w64 POSIX-thread compilers (std::thread and std::mutex
# need them). Included by the toolchain file of each architecture, which sets TAVRIN_MINGW_ARCH
# (i686 or x86_64) and TAVRIN_WINE (the Wine loader that runs the test programs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TAVRIN_MINGW_ARCH})

set(CMAKE_C_COMPILER ${TAVRIN_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIN_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIN_MINGW_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIN_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRIN_WINE})
