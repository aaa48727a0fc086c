# Runs the native tool with FTDI's own library beside it, as a user who
# copied both into one directory would, and checks the exact output.
#
#   cmake -DTOOL=... -DLIBRARY=... -DWORK_DIRECTORY=...
#         -P run_tool_with_vendor_library.cmake
#
# Without a USB bus FTDI's library cannot list devices; with one and no
# device it lists none. Either way the tool must say so in one line and exit
# 0.

file(REMOVE_RECURSE "${WORK_DIRECTORY}")
file(MAKE_DIRECTORY "${WORK_DIRECTORY}/elsewhere")
file(COPY "${TOOL}" "${LIBRARY}" DESTINATION "${WORK_DIRECTORY}")
get_filename_component(tool_name "${TOOL}" NAME)

# Only the copy beside the tool may be found.
unset(ENV{LD_LIBRARY_PATH})
execute_process(
    COMMAND "${WORK_DIRECTORY}/${tool_name}"
    WORKING_DIRECTORY "${WORK_DIRECTORY}/elsewhere"
    OUTPUT_FILE "${WORK_DIRECTORY}/output.bin"
    ERROR_VARIABLE errors
    RESULT_VARIABLE result
    TIMEOUT 60)
file(READ "${WORK_DIRECTORY}/output.bin" output HEX)

# Shift_JIS, CR LF:
#   "FTDI のデバイスリスト取得に失敗しました\r\n"
set(list_failed "465444492082cc8366836f83438358838a835883678ee693be82c98eb8947382b582dc82b582bd0d0a")
#   "FT232H が見つかりません\r\n"
set(none_found "4654323332482082aa8ca982c282a982e882dc82b982f10d0a")

if(NOT result STREQUAL "0")
    message(FATAL_ERROR "the tool ended with '${result}' instead of status 0\noutput (hex): ${output}\nstandard error: ${errors}")
endif()
if(NOT output STREQUAL list_failed AND NOT output STREQUAL none_found)
    message(FATAL_ERROR "unexpected output (hex): ${output}\nexpected ${list_failed}\n      or ${none_found}\nstandard error: ${errors}")
endif()
message(STATUS "exit status 0, output ${output}")
