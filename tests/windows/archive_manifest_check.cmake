# Runs manifest_check on the executable of a Windows release archive,
# unpacked as a user unpacks it: the archive's packaging step strips the
# executable, and only the archive shows that its manifest survived.
#
#   cmake -DARCHIVE=zip -DCHECK=manifest_check.exe -DWORK=dir
#         -DLAUNCHER=env|WINEPREFIX=...|wine -P archive_manifest_check.cmake
#
# LAUNCHER is the Wine command with its words joined by '|', since a CTest
# command would split a list. WORK is emptied first.
foreach(variable IN ITEMS ARCHIVE CHECK WORK LAUNCHER)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} must be given")
    endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${ARCHIVE}" WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${ARCHIVE}")
endif()
file(GLOB tools "${WORK}/*/ft232h_eeprom.exe")
list(LENGTH tools count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "${ARCHIVE} must hold ft232h_eeprom.exe in its one directory")
endif()
get_filename_component(directory "${tools}" DIRECTORY)
string(REPLACE "|" ";" launcher "${LAUNCHER}")
# Run in the tool's directory and name it by file name only, so that the
# check receives a Windows path under Wine.
execute_process(COMMAND ${launcher} "${CHECK}" ft232h_eeprom.exe WORKING_DIRECTORY "${directory}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the manifest of the executable in ${ARCHIVE} fails the check (status ${status})")
endif()
