# What `cmake --install` puts where, and the packages CPack makes of it.
#
# Component "utility": the viewer, jbbtool and the documents, for the people
# who look after journals.  Component "devtools": jbbbuild, the
# test-database builder.  The packages hold the utility alone:
#   Windows  jbbview-<version>-win64.zip: the static .exe files and the
#            README at the top of its folder, the guide in docs/, ready to
#            run where unpacked;
#   Linux    jbbview-<version>-Linux.tar.gz: bin/, share/doc/jbbview/ and
#            share/man/man1/.
include(GNUInstallDirs)
if(WIN32)
  set(JBB_INSTALL_BINDIR .)
  set(JBB_INSTALL_DOCDIR .)
else()
  set(JBB_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(JBB_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/jbbview)
endif()

install(TARGETS jbbview jbbtool RUNTIME DESTINATION ${JBB_INSTALL_BINDIR} COMPONENT utility)
# The guide keeps its place beside the README, so the README's link to it
# holds in the installed copy too.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${JBB_INSTALL_DOCDIR} COMPONENT utility)
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md DESTINATION ${JBB_INSTALL_DOCDIR}/docs COMPONENT utility)
# The manual pages, made from the programs' own help texts (docs/man), in
# the Linux package.
if(NOT WIN32)
  set(JBB_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  add_custom_command(
    OUTPUT ${JBB_MAN_DIR}/jbbtool.1 ${JBB_MAN_DIR}/jbbview.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${JBB_MAN_DIR}
    COMMAND bash ${PROJECT_SOURCE_DIR}/docs/man/mkman.sh jbbtool ${PROJECT_SOURCE_DIR}/docs/man/jbbtool.1.in
            $<TARGET_FILE:jbbtool> > ${JBB_MAN_DIR}/jbbtool.1
    COMMAND bash ${PROJECT_SOURCE_DIR}/docs/man/mkman.sh jbbview ${PROJECT_SOURCE_DIR}/docs/man/jbbview.1.in
            $<TARGET_FILE:jbbview> $<TARGET_FILE:jbbbuild> ${PROJECT_VERSION} > ${JBB_MAN_DIR}/jbbview.1
    DEPENDS jbbtool jbbview jbbbuild ${PROJECT_SOURCE_DIR}/docs/man/mkman.sh ${PROJECT_SOURCE_DIR}/docs/man/jbbtool.1.in
            ${PROJECT_SOURCE_DIR}/docs/man/jbbview.1.in
    VERBATIM)
  add_custom_target(manpages ALL DEPENDS ${JBB_MAN_DIR}/jbbtool.1 ${JBB_MAN_DIR}/jbbview.1)
  install(FILES ${JBB_MAN_DIR}/jbbtool.1 ${JBB_MAN_DIR}/jbbview.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT utility)
endif()

# Installed only on request: cmake --install DIR --component devtools.
install(TARGETS jbbbuild RUNTIME DESTINATION ${JBB_INSTALL_BINDIR} COMPONENT devtools EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME jbbview)
set(CPACK_PACKAGE_VENDOR "jbbview developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Journal database viewer and maintenance tool")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME Linux)
endif()
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL utility)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
include(CPack)
cpack_add_component(utility DISPLAY_NAME "Journal utility" DESCRIPTION "jbbview, jbbtool and the user guide")
cpack_add_component(devtools DISPLAY_NAME "Development tools" DESCRIPTION "jbbbuild, the test-database builder")
