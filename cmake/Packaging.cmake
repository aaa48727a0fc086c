# Two ways out of a build.
#
# `cmake --install` lays the tool out as a packager expects (GNUInstallDirs):
# bin/ft232h_eeprom and share/doc/ft232h_eeprom/README.md under the prefix.
#
# The `package` target (CPack) makes the release archive of the build,
# ft232h_eeprom-1.0.0-win64.zip, -win32.zip or -linux-x86_64.tar.gz: the
# tool, stripped, and the README side by side in one directory, since the
# tool looks for the D2XX library and its settings files beside itself. That
# layout is a component of its own, left out of a plain install.
include(GNUInstallDirs)
install(TARGETS ft232h_eeprom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
install(TARGETS ft232h_eeprom RUNTIME DESTINATION . COMPONENT release_archive EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT release_archive EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};release_archive;/")

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${PROJECT_NAME})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
if(WIN32)
    # A Windows user expects a zip.
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME win64)
    else()
        set(CPACK_SYSTEM_NAME win32)
    endif()
else()
    set(CPACK_GENERATOR TGZ)
    if(APPLE)
        set(CPACK_SYSTEM_NAME macos-${CMAKE_SYSTEM_PROCESSOR})
    else()
        string(TOLOWER linux-${CMAKE_SYSTEM_PROCESSOR} CPACK_SYSTEM_NAME)
    endif()
endif()
set(CPACK_STRIP_FILES ON)
# No source archive: the repository is the source.
set(CPACK_SOURCE_GENERATOR "")

# The same commit packaged anywhere, at any time, gives the same bytes, so
# that anyone can check a published archive by building it again. CPack's
# archive writer stamps every entry with SOURCE_DATE_EPOCH when it is set
# (and then leaves the gzip header's time out): this file, which CPack reads
# when it starts, sets it to the time of the last commit unless the caller
# chose one. A zip holds local times, so the time zone is fixed as well.
set(FT232H_SOURCE_DIR_FOR_CPACK ${PROJECT_SOURCE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake.in
    ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
include(CPack)
