# Shared part of the mingw-w64 toolchains: FT232H_MINGW_TRIPLET
# and FT232H_WINE_NAMES are set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${FT232H_MINGW_TRIPLET})

# Debian installs two thread models side by side; the posix one gives the
# full <thread>/<mutex> of C++20, and its pthread library is linked
# statically below like the rest of the runtime.
find_program(CMAKE_CXX_COMPILER NAMES ${FT232H_MINGW_TRIPLET}-g++-posix ${FT232H_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${FT232H_MINGW_TRIPLET}-gcc-posix ${FT232H_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${FT232H_MINGW_TRIPLET}-windres windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${FT232H_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program must run with nothing beside it but ftd2xx.dll, so the C and
# C++ runtimes and winpthread go inside each binary, DLLs included (a test
# DLL that needs libgcc_s_dw2-1.dll would not load on a clean machine either).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# The version resource is UTF-8; the flag says so even to a windres that
# does not honour the file's code_page pragma.
set(CMAKE_RC_FLAGS_INIT "-c 65001")

# Each build directory gets its own Wine prefix, made on first use: a shared
# one made before the 32-bit Wine was installed cannot load a 32-bit program.
# Leaving out Mono and Gecko keeps its creation to seconds and needs no
# download.
# Without Wine the build still works; only its tests cannot run.
find_program(FT232H_WINE NAMES ${FT232H_WINE_NAMES} PATHS /usr/lib/wine /opt/wine-stable/bin)
set(FT232H_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix in which this build runs its programs")
if(FT232H_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env
        WINEPREFIX=${FT232H_WINE_PREFIX}
        WINEDEBUG=-all
        WINEDLLOVERRIDES=mscoree,mshtml=
        ${FT232H_WINE})
endif()
