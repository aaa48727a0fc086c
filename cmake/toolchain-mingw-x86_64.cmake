# Cross-builds the Windows x64 program with mingw-w64 and runs what it builds
# (tests included) under Wine.
set(FT232H_MINGW_TRIPLET x86_64-w64-mingw32)
set(FT232H_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
