# Install rules and the Debian package: both programs, the man page (with a
# link for q7tlog-sim), the README, copyright and changelog, the bash
# completion (one script, a link for q7tlog-sim) and the tmpfiles.d entry of
# the card's lock folder. The package (Q7T_DEBIAN_PACKAGE) adds the capture
# service, its defaults, the log folder and its maintainer scripts.
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
install(FILES ${q7t_doc_out}/q7tlog ${q7t_doc_out}/q7tlog-sim
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/doc/q7tlog.tmpfiles
  DESTINATION lib/tmpfiles.d RENAME q7tlog.conf)

if(Q7T_DEBIAN_PACKAGE)
  # Shipped disabled: the administrator enables it.
  install(FILES ${PROJECT_SOURCE_DIR}/doc/q7tlog-capture.service DESTINATION /lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/q7tlog.default DESTINATION /etc/default RENAME q7tlog)
  if(Q7T_LOG_DIR)
    install(DIRECTORY DESTINATION ${Q7T_LOG_DIR})
  endif()
else()
  install(FILES ${PROJECT_SOURCE_DIR}/doc/q7tlog-capture.service
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/q7tlog/examples)
  if(Q7T_LOG_DIR)
    # The log folder of the installed programs, where the installer may make
    # it: root's, shared with the group q7t when there is one.
    install(CODE "
      set(dir \"\$ENV{DESTDIR}${Q7T_LOG_DIR}\")
      execute_process(COMMAND mkdir -p -m 2775 \"\${dir}\" RESULT_VARIABLE made ERROR_QUIET)
      execute_process(COMMAND chgrp q7t \"\${dir}\" ERROR_QUIET)
      if(NOT made EQUAL 0)
        message(STATUS \"Not made: \${dir} (the programs save there; make it writable for their users)\")
      endif()")
  endif()
endif()

# The Debian package (cpack -G DEB in a Release build with
# Q7T_DEBIAN_PACKAGE): dependencies from the binaries and the maintainer
# scripts' tools; a debconf question grants the group q7t the card's ports.
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
scripts and timers, and a capture service drains the card's line into files.
Port access can be granted to the group q7t (debconf). q7tlog-sim is the same
tool on a virtual card.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, debconf (>= 0.5) | debconf-2.0, libcap2-bin")
set(q7t_debian ${PROJECT_SOURCE_DIR}/cmake/debian)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${q7t_debian}/config ${q7t_debian}/templates ${q7t_debian}/postinst ${q7t_debian}/postrm
  ${q7t_debian}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
