# Shared build settings and the small helpers every folder uses.

add_library(zarn_build_flags INTERFACE)
target_compile_options(zarn_build_flags INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wno-missing-field-initializers>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)
if(ZARN_WERROR)
  target_compile_options(zarn_build_flags INTERFACE -Werror)
endif()
if(ZARN_SANITIZE)
  target_compile_options(zarn_build_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(zarn_build_flags INTERFACE -fsanitize=address,undefined)
endif()

# Adds every direct sub-folder of DIR that has a CMakeLists.txt, except the EXCLUDE names.
function(zarn_add_subdirectories dir)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  if(NOT EXISTS ${dir})
    return()
  endif()
  file(GLOB children RELATIVE ${dir} ${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(child IN_LIST ARG_EXCLUDE)
      continue()
    endif()
    if(IS_DIRECTORY ${dir}/${child} AND EXISTS ${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${dir}/${child})
    endif()
  endforeach()
endfunction()

# zarn_library(NAME SOURCES ... DEPS ...): a static library of the core or platform layer.
function(zarn_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC zarn_build_flags ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# zarn_cli_link(LIB ...): libraries the `zarn` command must link (its command files use them).
function(zarn_cli_link)
  set_property(GLOBAL APPEND PROPERTY ZARN_CLI_LIBS ${ARGN})
endfunction()

# zarn_test(NAME SOURCES ... DEPS ... [LABELS ...] [ENV ...]): a GoogleTest executable run by CTest.
function(zarn_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE zarn_build_flags zarn_testsupport ${ARG_DEPS} GTest::gmock)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # ZARN_TEST_SOURCE_DIR and ZARN_BINARY_DIR are set by the test main (tests/support).
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_ENV)
    # One variable only: gtest_discover_tests splits lists.
    list(APPEND props ENVIRONMENT "${ARG_ENV}")
  endif()
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()
