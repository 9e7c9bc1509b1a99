# Installing kvAction: public headers under include/kvaction/, one shared library (with a SONAME)
# and one static library built from the component libraries, a CMake package exporting
# kvAction:: targets, and kvaction.pc. Each install rule names its package component:
#   runtime  the shared library              (Debian package libkvaction1)
#   dev      headers, static library, CMake package, kvaction.pc (libkvaction-dev)
#   cli      the kvaction command and its man page (kvaction)
include(CMakePackageConfigHelpers)

set(KV_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kvAction)

# kv_public_headers([DESTINATION subdir] FILES ...): installs headers of the current source folder
# (or absolute paths, e.g. generated ones) under include/kvaction/<subdir>/, keeping the folders
# they sit in, so that the includes between them ("vb/Variant.h", "kvaction/Enums.h") still
# resolve through the exported include folders include/ and include/kvaction/.
function(kv_public_headers)
  cmake_parse_arguments(KV "" "DESTINATION" "FILES" ${ARGN})
  set(root ${CMAKE_INSTALL_INCLUDEDIR}/kvaction)
  if(KV_DESTINATION)
    set(root ${root}/${KV_DESTINATION})
  endif()
  foreach(header IN LISTS KV_FILES)
    if(IS_ABSOLUTE ${header})
      install(FILES ${header} DESTINATION ${root} COMPONENT dev)
    else()
      get_filename_component(folder ${header} DIRECTORY)
      install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/${header} DESTINATION ${root}/${folder}
              COMPONENT dev)
    endif()
  endforeach()
endfunction()

# The libraries a component links that are not components themselves (fmt::fmt, PkgConfig::…).
function(kv_external_deps out)
  set(deps)
  foreach(part IN LISTS ARGN)
    get_target_property(libs ${part} LINK_LIBRARIES)
    foreach(lib IN LISTS libs)
      if(lib AND NOT lib MATCHES "^kv_")
        list(APPEND deps ${lib})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES deps)
  set(${out} ${deps} PARENT_SCOPE)
endfunction()

# kv_install_library(PARTS component-library ...): links the object files of the component
# libraries into libkvaction.so.MAJOR (target kvAction::kvaction) and libkvaction.a
# (kvAction::kvaction-static) and installs both. Add a new component library to PARTS.
function(kv_install_library)
  cmake_parse_arguments(KV "" "" "PARTS" ${ARGN})
  set(objects)
  foreach(part IN LISTS KV_PARTS)
    list(APPEND objects $<TARGET_OBJECTS:${part}>)
  endforeach()
  kv_external_deps(deps ${KV_PARTS})
  set(KVACTION_LINK_DEPS ${deps} PARENT_SCOPE)

  add_library(kvaction_shared SHARED ${objects})
  add_library(kvaction_static STATIC ${objects})
  set_target_properties(kvaction_shared PROPERTIES
    OUTPUT_NAME kvaction EXPORT_NAME kvaction
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  set_target_properties(kvaction_static PROPERTIES OUTPUT_NAME kvaction EXPORT_NAME kvaction-static)
  foreach(library kvaction_shared kvaction_static)
    # The shared library's dependencies stay private; the static one hands them to its clients.
    target_link_libraries(${library} PRIVATE ${deps})
    target_include_directories(${library} INTERFACE
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src> $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/src>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kvaction>)
    target_compile_features(${library} INTERFACE cxx_std_20)
  endforeach()
  add_library(kvAction::kvaction ALIAS kvaction_shared)
  add_library(kvAction::kvaction-static ALIAS kvaction_static)

  install(TARGETS kvaction_shared EXPORT kvActionTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
  install(TARGETS kvaction_static EXPORT kvActionStaticTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endfunction()

# kv_install_package(): the CMake package (kvActionConfig.cmake, its version file, the exported
# targets) and kvaction.pc, both recording which optional parts were built.
function(kv_install_package)
  install(EXPORT kvActionTargets NAMESPACE kvAction:: DESTINATION ${KV_CMAKE_PACKAGE_DIR}
          COMPONENT dev)
  install(EXPORT kvActionStaticTargets NAMESPACE kvAction:: DESTINATION ${KV_CMAKE_PACKAGE_DIR}
          COMPONENT dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kvActionConfig.cmake.in
    ${PROJECT_BINARY_DIR}/kvActionConfig.cmake INSTALL_DESTINATION ${KV_CMAKE_PACKAGE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvActionConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/kvActionConfig.cmake
                ${PROJECT_BINARY_DIR}/kvActionConfigVersion.cmake
          DESTINATION ${KV_CMAKE_PACKAGE_DIR} COMPONENT dev)

  # pkg-config: the modules the static library needs, and the way back from the .pc file to the
  # prefix, so that the installed tree can be moved (a scratch root, a .deb).
  set(KV_PC_REQUIRES "sqlite3 libsodium fmt")
  if(KV_WITH_POSTGRESQL)
    string(APPEND KV_PC_REQUIRES " libpq")
  endif()
  file(RELATIVE_PATH KV_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kvaction.pc.in ${PROJECT_BINARY_DIR}/kvaction.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/kvaction.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endfunction()
