# Installing: the program in bin/, its archiver libraries and picture plug-ins in
# lib/tolvane/ and lib/tolvane/spi/ (where it looks for them, relative to itself),
# and what the desktop needs to list it in share/.
install(TARGETS tolvane RUNTIME DESTINATION bin)

# Every shared library a plug-in folder builds is a run-time plug-in; test
# plug-ins live under tests/ and are never installed.
function(tolvane_install_plugins folder destination)
  get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR}/${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
      install(TARGETS ${target} LIBRARY DESTINATION ${destination})
    endif()
  endforeach()
endfunction()
tolvane_install_plugins(plugins/archivers lib/tolvane)
tolvane_install_plugins(plugins/spi lib/tolvane/spi)

set(TOLVANE_APP_ID org.tolvane.Tolvane)
install(FILES data/${TOLVANE_APP_ID}.desktop DESTINATION share/applications)
install(FILES data/${TOLVANE_APP_ID}.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES data/${TOLVANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES data/tolvane.1 DESTINATION share/man/man1)

# The licence in Debian's copyright format (the text indented, a blank line as " ."),
# and the change log, compressed as the documentation folder's rules want it.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE TOLVANE_LICENSE_TEXT)
string(STRIP "${TOLVANE_LICENSE_TEXT}" TOLVANE_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" TOLVANE_LICENSE_TEXT "${TOLVANE_LICENSE_TEXT}")
string(REPLACE "\n" "\n " TOLVANE_LICENSE_TEXT " ${TOLVANE_LICENSE_TEXT}")
configure_file(cmake/debian/copyright.in ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_SOURCE_DIR}/CHANGELOG.md > ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md VERBATIM)
add_custom_target(tolvane_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_dependencies(tolvane tolvane_changelog)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION share/doc/tolvane)

# The Debian package: cpack -G DEB in the build folder, or scripts/package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Tolvane developers <tolvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "two-pane, keyboard-driven file manager")
set(CPACK_PACKAGE_DESCRIPTION "Tolvane shows two folder panes side by side, with folder tabs, wildcard masks
and a folder tree. One-letter commands copy, move, rename and delete with undo,
extract archives and preview pictures and text. Its interface is Japanese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries it needs come from dpkg-shlibdeps; these are data it reads.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The interface is Japanese: without a CJK font every label is a row of boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic")
# Network locations: the GVfs backends and their FUSE paths.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, breeze-icon-theme, gvfs-backends, gvfs-fuse")
# CPack would have the dynamic linker's cache rebuilt for anything under /usr/lib; these
# scripts stand in for its own and do nothing.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/debian/postinst ${CMAKE_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
