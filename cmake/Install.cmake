# The install tree, laid out with GNUInstallDirs: the programs in bin, the
# desktop entry, the icon in the hicolor theme, the man pages, and the README
# and licence in share/doc/brontel. Every rule belongs to the component
# "brontel", the one the Debian package is made from, so tests and benchmarks
# never reach an installation:
#
#   cmake --install BUILD_DIR --component brontel [--prefix /usr]
#
# Programs that are not built (BUILD_GUI=OFF, BUILD_TOOLS=OFF) are left out,
# together with their man pages.
include(GNUInstallDirs)
# The documentation folder is named after the package (GNUInstallDirs' DOCDIR
# takes the project's name, Brontel).
set(BRONTEL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/brontel)

set(BRONTEL_INSTALL_COMPONENT brontel)
set(BRONTEL_MAN_SOURCE_DIR ${PROJECT_SOURCE_DIR}/docs/man)
set(BRONTEL_MAN_BINARY_DIR ${PROJECT_BINARY_DIR}/man)

# brontel_install_program(TARGET): the executable and its man page TARGET.1,
# made from docs/man/TARGET.1.in with the version filled in and compressed as
# Debian keeps man pages.
function(brontel_install_program target)
  if(NOT TARGET ${target})
    return()
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT ${BRONTEL_INSTALL_COMPONENT})
  set(source ${BRONTEL_MAN_SOURCE_DIR}/${target}.1.in)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "${target} is installed but has no man page (${source})")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  configure_file(${source} ${BRONTEL_MAN_BINARY_DIR}/${target}.1 @ONLY)
  # A fixed time stamp keeps the compressed page the same from build to build.
  file(ARCHIVE_CREATE OUTPUT ${BRONTEL_MAN_BINARY_DIR}/${target}.1.gz
       PATHS ${BRONTEL_MAN_BINARY_DIR}/${target}.1
       FORMAT raw COMPRESSION GZip MTIME 0)
  install(FILES ${BRONTEL_MAN_BINARY_DIR}/${target}.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${BRONTEL_INSTALL_COMPONENT})
endfunction()

brontel_install_program(brontel)
brontel_install_program(brontel-decode)
brontel_install_program(navtex-gen)
brontel_install_program(brontel-messages)

if(TARGET brontel)
  install(FILES ${PROJECT_SOURCE_DIR}/data/brontel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT ${BRONTEL_INSTALL_COMPONENT})
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/brontel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          COMPONENT ${BRONTEL_INSTALL_COMPONENT})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons/hicolor/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          COMPONENT ${BRONTEL_INSTALL_COMPONENT}
          FILES_MATCHING PATTERN "brontel.png")
endif()

# share/doc/brontel: the README (with the screenshot it shows), the licence,
# and the copyright file Debian expects there.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/data/copyright
        DESTINATION ${BRONTEL_INSTALL_DOCDIR} COMPONENT ${BRONTEL_INSTALL_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/docs/screenshot.png
        DESTINATION ${BRONTEL_INSTALL_DOCDIR}/docs COMPONENT ${BRONTEL_INSTALL_COMPONENT})
