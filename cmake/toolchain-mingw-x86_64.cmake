# 64-bit Windows: runs the Windows checks under 64-bit Wine where 32-bit programs cannot run.
set(TAVRIN_MINGW_ARCH x86_64)
set(TAVRIN_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
