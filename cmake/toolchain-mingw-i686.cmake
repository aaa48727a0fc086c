# Cross-builds the Windows x86 (32-bit) program with mingw-w64 and runs what it
# builds (tests included) under Wine.
set(FT232H_MINGW_TRIPLET i686-w64-mingw32)
# The plain `wine` launcher hands 32-bit programs to the 32-bit loader.
set(FT232H_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
