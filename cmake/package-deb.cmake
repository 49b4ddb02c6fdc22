# The Debian package (scripts/package-deb: cpack -G DEB in the build
# directory): the programs in /usr/bin, the systemd unit, the example host
# root, arkctl's manual page made from its --help, and the copyright and
# changelog that every Debian package carries.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/arkctl.1.gz
  COMMAND ${CMAKE_COMMAND} -DARKCTL=$<TARGET_FILE:arkctl> -DOUT=${CMAKE_BINARY_DIR}/man/arkctl.1.gz
          -P ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake
  DEPENDS arkctl ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake VERBATIM)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND sh -c "gzip -9nc '${CMAKE_SOURCE_DIR}/packaging/deb/changelog' > '${CMAKE_BINARY_DIR}/doc/changelog.gz'"
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/deb/changelog VERBATIM)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
add_custom_target(package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/man/arkctl.1.gz ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/arkctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/deb/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ark)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_CONTACT "ark developers <ark@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backup and restore of Domino servers on snapshot storage")
# The long description (CPack puts the summary before it).
set(CPACK_PACKAGE_DESCRIPTION "The service arkserver backs up Domino servers by snapshots of their data
volumes and restores them to a snapshot's time or up to the minute; arkctl
is its client, with scheduled backups as systemd timers. This build protects
the simulated Domino hosts that dominosim builds.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
include(CPack)
