# The Debian package: `make package` (or `cmake --build build --target package`) writes
# zelvor_<version>_amd64.deb into the build folder. The version is the project's.
include(GNUInstallDirs)

set(zelvor_docdir ${CMAKE_INSTALL_DATADIR}/doc/zelvor)

# The man page, written in scdoc.
find_program(SCDOC_PROGRAM scdoc)
if(SCDOC_PROGRAM)
    set(zelvor_man ${PROJECT_BINARY_DIR}/zelvor.1.gz)
    add_custom_command(OUTPUT ${zelvor_man}
        COMMAND ${SCDOC_PROGRAM} < ${PROJECT_SOURCE_DIR}/data/man/zelvor.1.scd > zelvor.1
        COMMAND gzip -9nf zelvor.1
        DEPENDS ${PROJECT_SOURCE_DIR}/data/man/zelvor.1.scd
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
        VERBATIM)
    add_custom_target(zelvor_man_page ALL DEPENDS ${zelvor_man})
    install(FILES ${zelvor_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "scdoc not found: the package will have no man page")
endif()

# The changelog that Debian wants beside the copyright file, compressed as it wants it.
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in
               ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
set(zelvor_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${zelvor_changelog}
    COMMAND gzip -9nkf changelog
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/debian
    VERBATIM)
add_custom_target(zelvor_changelog ALL DEPENDS ${zelvor_changelog})

install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${zelvor_changelog}
        DESTINATION ${zelvor_docdir})
install(FILES ${PROJECT_SOURCE_DIR}/data/systemd/zelvor.service
        DESTINATION lib/systemd/user)
install(FILES ${PROJECT_SOURCE_DIR}/data/autostart/zelvor.desktop
        DESTINATION ${zelvor_docdir}/examples RENAME zelvor-autostart.desktop)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zelvor developers <zelvor@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "telnet remote control server for a music player")
# CPack puts the summary first and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zelvor lets one person at a time control MPD, the Music Player Daemon, over a
plain telnet connection: play, stop, pause, skip tracks, step the volume,
toggle shuffle and repeat, read the status, and browse the music folders to
load files or whole folders into the playlist. With a desktop it lives in the
notification area; without one it runs headless, also as a user service.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS mpd)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
