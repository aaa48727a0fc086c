# The warnings every GCC or Clang build of the project's own code asks for.
set(FT232H_GNU_WARNINGS
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-qual -Wformat=2
    -Wimplicit-fallthrough -Wmissing-declarations)
# What a sanitized build of the project's own code compiles and links with.
set(FT232H_SANITIZER_COMPILE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(FT232H_SANITIZER_LINK_FLAGS -fsanitize=address,undefined)
# What a build that counts its lines (the coverage preset) compiles and links with.
set(FT232H_COVERAGE_FLAGS --coverage)

# Compiler settings shared by every target of the project, as one interface
# target so that nothing touches the global flags.
add_library(ft232h_options INTERFACE)
target_compile_features(ft232h_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_include_directories(ft232h_options INTERFACE ${PROJECT_SOURCE_DIR})

if(MSVC)
    target_compile_options(ft232h_options INTERFACE /W4 /permissive-
        /source-charset:utf-8 /execution-charset:.932)
    if(FT232H_WERROR)
        target_compile_options(ft232h_options INTERFACE /WX)
    endif()
else()
    target_compile_options(ft232h_options INTERFACE ${FT232H_GNU_WARNINGS})
    if(FT232H_WERROR)
        target_compile_options(ft232h_options INTERFACE -Werror)
    endif()
endif()

# The same commit built in another folder gives the same bytes: paths the
# compiler writes into objects (debug information, __FILE__) are named as
# inside the source and build trees, not by where those trees are. The build
# tree's map comes last, so it wins for the build tree inside the source.
# A coverage build keeps its real paths, where gcov looks for the sources.
if(NOT MSVC AND NOT FT232H_COVERAGE)
    target_compile_options(ft232h_options INTERFACE
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
endif()
if(MINGW)
    # The linker would otherwise stamp the executable's header with the time
    # of the link.
    target_link_options(ft232h_options INTERFACE -Wl,--no-insert-timestamp)
endif()

# The messages are written in UTF-8 in the sources and must reach the user as
# Shift_JIS (code page 932). GCC converts string literals itself. Clang can
# only produce UTF-8; it is used for analysis and fuzzing builds, where the
# message bytes do not matter, and never for a build that is shipped or
# compared byte for byte.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(ft232h_options INTERFACE -finput-charset=UTF-8 -fexec-charset=CP932)
    set(FT232H_SHIFT_JIS_MESSAGES ON)
elseif(MSVC)
    set(FT232H_SHIFT_JIS_MESSAGES ON)
else()
    message(STATUS "ft232h_eeprom: ${CMAKE_CXX_COMPILER_ID} cannot produce Shift_JIS; messages stay UTF-8 in this build")
    set(FT232H_SHIFT_JIS_MESSAGES OFF)
endif()

# The sanitizers of a sanitize build and the line counts of a coverage build,
# for an interface target of options (the tool's, the emulator's).
function(ft232h_add_instrumentation options)
    if(FT232H_SANITIZE)
        target_compile_options(${options} INTERFACE ${FT232H_SANITIZER_COMPILE_FLAGS})
        target_link_options(${options} INTERFACE ${FT232H_SANITIZER_LINK_FLAGS})
    endif()
    if(FT232H_COVERAGE)
        target_compile_options(${options} INTERFACE ${FT232H_COVERAGE_FLAGS})
        target_link_options(${options} INTERFACE ${FT232H_COVERAGE_FLAGS})
    endif()
endfunction()
ft232h_add_instrumentation(ft232h_options)

# Coverage feedback for libFuzzer from every library a fuzz target links; the
# targets themselves link the fuzzer's own main (tests/fuzz).
if(FT232H_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "FT232H_FUZZ needs clang: libFuzzer comes with it")
    endif()
    target_compile_options(ft232h_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
