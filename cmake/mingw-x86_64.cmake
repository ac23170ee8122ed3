# Cross build of the same sources for 64-bit Windows, run under 64-bit Wine where the host
# executes no 32-bit programs. Not shipped: it makes every behaviour testable on every host.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(wine_loader /usr/lib/wine/wine64)
set(QEL_WINE_ARCH win64 CACHE INTERNAL "the kind of Wine prefix this tree's programs run in")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The unzip library's command record carries 4-byte addresses: the program's image, its stack
# and its heap stay below 4 GiB (SETUP.EXE still checks each address before it stores it).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--image-base=0x400000 -Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_SHARED_LINKER_FLAGS_INIT}")
