# 32-bit Windows: the DLL the host contract describes.
set(TAVRIN_MINGW_ARCH i686)
set(TAVRIN_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
