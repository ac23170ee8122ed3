# Cross build for 32-bit Windows, the product: SETUP.EXE and its DLLs as they ship.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
set(wine_loader /usr/lib/wine/wine)
set(QEL_WINE_ARCH win32 CACHE INTERNAL "the kind of Wine prefix this tree's programs run in")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
