# cmake --install and CPack: a .deb from the default build, a .zip from the
# Windows cross-build.
include(GNUInstallDirs)

if(WIN32)
  # plenvar.exe and how to run it, side by side, the text with Windows line ends.
  install(TARGETS plenvar RUNTIME DESTINATION .)
  configure_file(doc/windows-readme.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME plenvar-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS plenvar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian wants manual pages and its changelog compressed, reproducibly.
  find_program(GZIP gzip REQUIRED)
  foreach(file plenvar.1 changelog)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/${file}.gz
      COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/doc/${file} > ${CMAKE_BINARY_DIR}/${file}.gz
      DEPENDS ${CMAKE_SOURCE_DIR}/doc/${file})
  endforeach()
  add_custom_target(plenvar_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/plenvar.1.gz
                                             ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/plenvar.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
          RENAME changelog.gz)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION mail)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
endif()
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGE_NAME plenvar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Plenvar developers")
set(CPACK_PACKAGE_CONTACT "Plenvar developers <plenvar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "export a legacy mail store as one file per message")
set(CPACK_PACKAGE_DESCRIPTION
    "plenvar walks the folder tree of a legacy mail server's mailboxes, cuts every
selected mail file into single RFC 822 messages and writes each message as a
numbered .MAI file into a target tree that mirrors the source, as a one-shot
migration into another mail server's message store. It runs unattended,
reports every failure, and can plan a run (/LIST) and log it (/LOG:).")
include(CPack)
