# What `cmake --install` and `cpack` put into the release artefacts. scripts/release.sh drives both.
# Installing builds nothing by itself, so a release builds only the targets it ships.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ZT_PACKAGE_VENDOR "Tavin Electronics Ltd.")
set(ZT_PACKAGE_CONTACT "${ZT_PACKAGE_VENDOR} <support@zt-audio.example>")

if(WIN32)
    # The zip and the installer carry the same folder: both programs and a short read-me.
    install(TARGETS ztupdater ztupdate RUNTIME DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
    return()
endif()

# Manual pages are shipped gzipped, as Debian does.
set(ZT_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(ZT_MAN_PAGES)
foreach(page ztupdate.1 zt-unit-sim.1)
    add_custom_command(
        OUTPUT ${ZT_MAN_DIR}/${page}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/man/${page} ${ZT_MAN_DIR}/${page}
        COMMAND gzip -9nf ${ZT_MAN_DIR}/${page}
        DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}
        COMMENT "Compressing the manual page ${page}" VERBATIM)
    list(APPEND ZT_MAN_PAGES ${ZT_MAN_DIR}/${page}.gz)
endforeach()
# The package's changelog, gzipped the same way. Its newest entry names the version being built.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/linux/changelog ZT_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ZT_CHANGELOG_TOP MATCHES "^ztupdate \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/linux/changelog: the newest entry is not ${PROJECT_VERSION}: ${ZT_CHANGELOG_TOP}")
endif()
set(ZT_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(
    OUTPUT ${ZT_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/linux/changelog ${CMAKE_BINARY_DIR}/doc/changelog
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/doc/changelog
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/linux/changelog
    COMMENT "Compressing the package changelog" VERBATIM)
add_custom_target(zt_man_pages ALL DEPENDS ${ZT_MAN_PAGES} ${ZT_CHANGELOG})

include(GNUInstallDirs)
install(TARGETS ztupdate zt-unit-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZT_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/ztupdate.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ztupdate)
# Where Debian's zsh and fish look for completions that packages bring.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/ztupdate.zsh-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions RENAME _ztupdate)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/ztupdate.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/zt-unit-sim.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zt-unit-sim)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/serial-ports.txt ${CMAKE_SOURCE_DIR}/packaging/linux/copyright
              ${CMAKE_SOURCE_DIR}/docs/command-line.md ${CMAKE_SOURCE_DIR}/docs/troubleshooting.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ztupdate)
install(FILES ${ZT_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ztupdate)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ztupdate)
set(CPACK_PACKAGE_VENDOR ${ZT_PACKAGE_VENDOR})
set(CPACK_PACKAGE_CONTACT ${ZT_PACKAGE_CONTACT})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line firmware updater for ZT Series amplifiers, and a simulated unit")
# Lines of at most 80 characters, as lintian wants them.
set(CPACK_PACKAGE_DESCRIPTION "ztupdate finds ZT Series units on the local networks and serial ports, puts
them into bootload mode with their Installer PIN and updates their application
firmware and web content over UDP or RS-232, several units in parallel. It
reports in text or JSON, and a later run can take up the units that failed.
zt-unit-sim is a simulated unit, with faults, for trying it out.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_STRIP_FILES ON)
include(CPack)
