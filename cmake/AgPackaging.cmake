# The Debian package "vornex-agent", built with CPack from a build folder:
#   cpack -G DEB            (or: cmake --build out/normal --target package)
#
# Layout (one prefix for programs and libraries, FHS-conform):
#   /usr/lib/vornex-agent/         agentsvc, agentctl, agtenant, agevent and
#                                  every library of the suite; RPATH $ORIGIN
#   /usr/bin/agentctl              symbolic link for operators
#   /lib/systemd/system/agentsvc.service
#   /usr/share/doc/vornex-agent/   operations.md, copyright, changelog.gz
# The state folder /var/lib/vornex-agent (0750, service account vornex-agent)
# is made by postinst and by the unit's StateDirectory=; it is removed only
# on purge. Log files rotate inside the agent (10 MiB x 5), so the package
# ships no logrotate rule.
set(AG_PACKAGE_NAME vornex-agent)
set(AG_PACKAGE_LIBDIR lib/${AG_PACKAGE_NAME})

foreach(target agentsvc agentctl agtenant agevent agcore agplatform agevtlog agvers agmisc agmsggen agmsgparse
               agresp agtransport agpreinst agsystem agdevid)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${AG_PACKAGE_LIBDIR} LIBRARY DESTINATION ${AG_PACKAGE_LIBDIR})
  endif()
endforeach()
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(CREATE_LINK ../${AG_PACKAGE_LIBDIR}/agentctl \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/agentctl\" SYMBOLIC)")
# The unit belongs in /lib even though everything else is under /usr.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/agentsvc.service DESTINATION /lib/systemd/system)

set(AG_PACKAGE_DOCDIR share/doc/${AG_PACKAGE_NAME})
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/docs/operations.md ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${AG_PACKAGE_DOCDIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${AG_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "agcore developers <agcore@vornex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vornex client agent for managed endpoint protection")
set(CPACK_PACKAGE_DESCRIPTION
    "The client agent of the Vornex managed endpoint-protection suite: it enrols\n"
    "the machine with the management server, sends heartbeats, carries out the\n"
    "server's commands and reports on the protection product. The package\n"
    "installs the agent service (systemd unit agentsvc.service, running as the\n"
    "system user vornex-agent) and agentctl, which shows the agent's status.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${AG_PACKAGE_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)

# The package test builds the package and checks it; once, in the plain build
# (sanitizer builds would package instrumented programs).
if(AG_BUILD_TESTS AND AG_SANITIZE STREQUAL "")
  add_test(NAME package_deb COMMAND ${PROJECT_SOURCE_DIR}/tests/package/check_package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_deb PROPERTIES TIMEOUT 300 PASS_REGULAR_EXPRESSION "package checks passed")
endif()
