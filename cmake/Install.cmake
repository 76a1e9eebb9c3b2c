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

# brontel_gzip(FILE OUT_VAR): FILE.gz as Debian wants man pages and changelogs
# (best compression, no name or time stamp inside, so every build gives the
# same bytes); OUT_VAR names the file to install, FILE itself without gzip.
find_program(BRONTEL_GZIP gzip)
function(brontel_gzip file out_var)
  set(${out_var} ${file} PARENT_SCOPE)
  if(NOT BRONTEL_GZIP)
    return()
  endif()
  execute_process(COMMAND ${BRONTEL_GZIP} -9nc ${file} OUTPUT_FILE ${file}.gz RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip cannot compress ${file}")
  endif()
  set(${out_var} ${file}.gz PARENT_SCOPE)
endfunction()

# brontel_install_program(TARGET): the executable and its man page TARGET.1,
# made from docs/man/TARGET.1.in with the version filled in.
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
  configure_file(${source} ${BRONTEL_MAN_BINARY_DIR}/${target}.1 @ONLY)
  brontel_gzip(${BRONTEL_MAN_BINARY_DIR}/${target}.1 page)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${BRONTEL_INSTALL_COMPONENT})
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
  install(FILES ${BRONTEL_QM_FILES}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/brontel/translations
          COMPONENT ${BRONTEL_INSTALL_COMPONENT})
endif()

# The NAVTEX station list, where the programs look for it (share/brontel
# beside their bin directory).
install(FILES ${PROJECT_SOURCE_DIR}/data/navtex-stations.csv
        DESTINATION ${CMAKE_INSTALL_DATADIR}/brontel COMPONENT ${BRONTEL_INSTALL_COMPONENT})

# share/doc/brontel: the README (with the screenshot it shows), the licence,
# and the copyright file and changelog Debian expects there.
configure_file(${PROJECT_SOURCE_DIR}/data/changelog ${PROJECT_BINARY_DIR}/doc/changelog COPYONLY)
brontel_gzip(${PROJECT_BINARY_DIR}/doc/changelog changelog)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/data/copyright ${changelog}
        DESTINATION ${BRONTEL_INSTALL_DOCDIR} COMPONENT ${BRONTEL_INSTALL_COMPONENT})
# The headless receiver as a systemd user service (systemctl --user enable brontel-receiver).
install(FILES ${PROJECT_SOURCE_DIR}/docs/brontel-receiver.service
        DESTINATION lib/systemd/user COMPONENT ${BRONTEL_INSTALL_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/docs/screenshot.png
        DESTINATION ${BRONTEL_INSTALL_DOCDIR}/docs COMPONENT ${BRONTEL_INSTALL_COMPONENT})
