# Install rules and the Debian package: both programs, the man page (with a
# link for q7tlog-sim), the README, copyright and changelog, and the bash
# completion (one script, a link for q7tlog-sim).
include(GNUInstallDirs)

set(q7t_doc_out ${CMAKE_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${q7t_doc_out})

# Man pages and the changelog go compressed, without a time stamp.
set(q7t_gz_files)
foreach(pair "q7tlog.1;q7tlog.1.gz" "changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${q7t_doc_out}/${target}
    COMMAND sh -c "gzip -9n -c '${PROJECT_SOURCE_DIR}/doc/${source}' > '${q7t_doc_out}/${target}'"
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/${source}
    VERBATIM)
  list(APPEND q7t_gz_files ${q7t_doc_out}/${target})
endforeach()
add_custom_target(q7t_docs ALL DEPENDS ${q7t_gz_files})
file(CREATE_LINK q7tlog.1.gz ${q7t_doc_out}/q7tlog-sim.1.gz SYMBOLIC)
file(CREATE_LINK q7tlog ${q7t_doc_out}/q7tlog-sim SYMBOLIC)
configure_file(${PROJECT_SOURCE_DIR}/doc/q7tlog.bash-completion ${q7t_doc_out}/q7tlog COPYONLY)

install(TARGETS q7tlog q7tlog-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${q7t_doc_out}/q7tlog.1.gz ${q7t_doc_out}/q7tlog-sim.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/copyright
  ${q7t_doc_out}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/q7tlog)
install(FILES ${PROJECT_SOURCE_DIR}/doc/q7tlog-capture.service
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/q7tlog/examples)
install(FILES ${q7t_doc_out}/q7tlog ${q7t_doc_out}/q7tlog-sim
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)

# The Debian package (cpack -G DEB in a Release build): dependencies from
# the binaries, no maintainer scripts (the man page says how to grant the
# capability for port access).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME q7tlog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(Q7T_MAINTAINER "q7tlog developers <q7tlog@example.org>"
  CACHE STRING "The Debian package's maintainer: name <address>")
set(CPACK_PACKAGE_CONTACT "${Q7T_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "maintenance tool for the Q7T serial-line receiver card")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "q7tlog shows the counter word and mode register of the Q7T card, a serial-line
receiver on the PC's I/O bus at ports 0x350-0x351, on an 80 x 25 text screen
on any terminal; it sets the card's baud rate and mode, copies and resets its
counters, saves its 8192-byte log buffer and pages through the saved log.
One-shot commands (status, baud, mode, copy, reset, save) do the same from
scripts and timers. q7tlog-sim is the same tool on a virtual card.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
