# Installing and packaging: the four programs and nothing of the tests.
#   cmake --install build --prefix /usr/local   Linux: bin/, the README and the
#                                               examples in share/doc/olvex/
#   cpack (in the build folder)                 Linux: olvex_<version>_<arch>.deb;
#                                               Windows: olvex-<version>-win64.zip
#                                               with the programs at its top
include(GNUInstallDirs)
if(WIN32)
  set(olvex_bin_dir .)
  set(olvex_doc_dir .)
else()
  set(olvex_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(olvex_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()
install(TARGETS olvex olvex-check olvex-pack olvex-reg RUNTIME DESTINATION ${olvex_bin_dir})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${olvex_doc_dir})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${olvex_doc_dir}/examples)

set(CPACK_PACKAGE_NAME olvex)
set(CPACK_PACKAGE_VENDOR "Olvex")
set(CPACK_PACKAGE_CONTACT "Olvex developers <olvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop-automation script runtime")
set(CPACK_PACKAGE_DESCRIPTION "Runs Olvex scripts: documents of numbered steps that type, click, wait for \
windows and files, read and write files, the registry and databases. Also olvex-check (checks scripts), \
olvex-pack (a program that carries its script) and olvex-reg (the runtime's settings store).")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The libraries the programs link (SQLite, the C++ runtime) found by dpkg-shlibdeps;
  # ODBC and the X desktop are loaded when a script needs them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "unixodbc, libx11-6, libxtst6")
endif()
include(CPack)
