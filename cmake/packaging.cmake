# What `cmake --install` lays out and CPack ships: a .tar.gz and a .deb of the native build, a
# .zip of the Windows build. The version in every package name is the project's.
if(WIN32)
    # Unzipped anywhere, the folder holds the program and a README that Notepad shows with its
    # line breaks, so it is written with CR LF whatever the checkout has.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
    file(READ ${PROJECT_SOURCE_DIR}/README.md flatcut_readme)
    string(REPLACE "\r\n" "\n" flatcut_readme "${flatcut_readme}")
    string(REPLACE "\n" "\r\n" flatcut_readme "${flatcut_readme}")
    file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${flatcut_readme}")
    install(TARGETS flatcut RUNTIME DESTINATION .)
    install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
else()
    include(GNUInstallDirs)
    configure_file(${PROJECT_SOURCE_DIR}/doc/flatcut.1.in ${PROJECT_BINARY_DIR}/flatcut.1 @ONLY)
    install(TARGETS flatcut RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_BINARY_DIR}/flatcut.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME flatcut)
set(CPACK_PACKAGE_VENDOR "flatcut developers")
set(CPACK_PACKAGE_CONTACT "flatcut developers <flatcut@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Broken into lines for the .deb's long description.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "flatcut makes a VMware virtual disk in the monolithic flat form (a text"
    "descriptor plus one headerless flat extent) smaller: it cuts the extent after"
    "the last partition of its MBR partition table, rounded up to 1 MiB, and writes"
    "a matching descriptor, keeping the old one. A test mode only writes the new"
    "descriptor.")
set(CPACK_STRIP_FILES ON)
# Folders in the packages get the usual modes whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
    # Explorer's "Extract All" makes the folder itself.
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    set(CPACK_GENERATOR TGZ DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

# The package workflow of the native build makes the Windows .zip too: a workflow keeps to one
# configure preset, so the cross build's own workflow runs as a target of this one.
if(NOT CMAKE_CROSSCOMPILING)
    add_custom_target(windows-zip
        COMMAND ${CMAKE_COMMAND} --workflow --preset windows-package
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} USES_TERMINAL VERBATIM)
endif()
