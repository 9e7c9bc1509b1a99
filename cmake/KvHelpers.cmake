# kv_add_library(name SOURCES ... DEPS ...): one static library of a component, include root src/.
function(kv_add_library name)
  cmake_parse_arguments(KV "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${KV_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src)
  target_link_libraries(${name} PUBLIC ${KV_DEPS})
endfunction()

# kv_add_test(name SOURCES ... DEPS ...): a GoogleTest program registered with CTest.
function(kv_add_test name)
  if(NOT KV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(KV "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${KV_SOURCES})
  target_link_libraries(${name} PRIVATE ${KV_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${name})
endfunction()
