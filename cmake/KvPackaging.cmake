# Debian packages through CPack (`cpack -G DEB` in the build folder, or the target `package`):
#   libkvaction1     the shared library
#   libkvaction-dev  headers, static library, CMake package and kvaction.pc
#   kvaction         the command and its man page (linked statically against the library)
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

include(CPack)
