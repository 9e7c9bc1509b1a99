# Debian packages through CPack (`cpack -G DEB` in the build folder, or the target `package`):
#   libkvaction1     the shared library
#   libkvaction-dev  headers, static library, CMake package and kvaction.pc
#   kvaction         the command and its man page (linked statically against the library)
# and beside each a PACKAGE-dbgsym .ddeb with its debug symbols.
set(CPACK_PACKAGE_NAME kvaction)
set(CPACK_PACKAGE_VENDOR "kvAction developers")
set(CPACK_PACKAGE_CONTACT "kvAction developers <kvaction@example.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(KV_WITH_CLI)
  list(APPEND CPACK_COMPONENTS_ALL cli)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkvaction${PROJECT_VERSION_MAJOR})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "kvAction shared library\n The business rules of an action-item tracking database, in process.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkvaction-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "kvAction development files\n Headers, static library, CMake package and pkg-config file.")
set(KV_DEV_DEPENDS "libkvaction${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), libsqlite3-dev, libsodium-dev, libfmt-dev")
if(KV_WITH_POSTGRESQL)
  string(APPEND KV_DEV_DEPENDS ", libpq-dev")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${KV_DEV_DEPENDS}")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME kvaction)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "kvAction command\n Create action databases and work on their actions from the shell.")

# What Debian's checker (lintian) asks of every package: the binaries stripped, with their debug
# symbols in a PACKAGE-dbgsym_*.ddeb beside each; the library's shlibs file, and the ldconfig
# trigger instead of ldconfig calls in maintainer scripts (CPack writes those calls for any
# library in /usr/lib; cmake/debian/DropLdconfigScripts.cmake takes them out again).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/DropLdconfigScripts.cmake)

# Each package's /usr/share/doc/PACKAGE: the copyright in Debian's machine-readable form and a
# changelog (the name of a native package's, changelog.gz) for this version, both compressed as
# Debian wants them. Only the packages get them: a plain `cmake --install` leaves them out.
find_program(KV_GZIP gzip REQUIRED)
string(TIMESTAMP KV_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(KV_DEB_PACKAGE ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(doc ${PROJECT_BINARY_DIR}/debian/${KV_DEB_PACKAGE})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${doc}/changelog @ONLY)
  execute_process(COMMAND ${KV_GZIP} -9nf ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${doc}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${KV_DEB_PACKAGE} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
