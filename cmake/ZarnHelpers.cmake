# Shared build settings and the small helpers every folder uses.

add_library(zarn_build_flags INTERFACE)
target_compile_options(zarn_build_flags INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wno-missing-field-initializers>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)
if(ZARN_WERROR)
  target_compile_options(zarn_build_flags INTERFACE -Werror)
endif()
if(ZARN_DCHECK)
  target_compile_definitions(zarn_build_flags INTERFACE ZARN_DCHECK_ON)
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
# Labels come from where the test lives and what it needs (see _zarn_register_test); LABELS
# adds more.
function(zarn_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE zarn_build_flags zarn_testsupport ${ARG_DEPS} GTest::gmock)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_target_properties(${name} PROPERTIES ZARN_TEST_TIMEOUT ${ARG_TIMEOUT} ZARN_TEST_ENV "${ARG_ENV}"
                                           ZARN_TEST_LABELS "${ARG_LABELS}")
  # Registered once the folder is read, when every dependency of the test is known.
  cmake_language(EVAL CODE "cmake_language(DEFER CALL _zarn_register_test [[${name}]])")
endfunction()

# Labels every test twice: by its first folder under tests/ (history, platform, ...), and
# `e2e` when it starts something outside the process (a private X server, PulseAudio,
# session buses, a program built here), `unit` otherwise, so `ctest -L unit` is quick.
set(ZARN_E2E_LIBRARIES zarn_desktop_session zarn_test_pulse_daemon)
function(_zarn_register_test name)
  get_target_property(timeout ${name} ZARN_TEST_TIMEOUT)
  get_target_property(env ${name} ZARN_TEST_ENV)
  get_target_property(labels ${name} ZARN_TEST_LABELS)
  get_target_property(libraries ${name} LINK_LIBRARIES)
  get_target_property(programs ${name} MANUALLY_ADDED_DEPENDENCIES)
  get_target_property(definitions ${name} COMPILE_DEFINITIONS)
  set(kind unit)
  # A program to start reaches a test as a ZARN_..._BINARY, _APP or _SERVER definition.
  if(definitions MATCHES "ZARN_[A-Z_]*(BINARY|APP|SERVER)=")
    set(kind e2e)
  endif()
  foreach(program IN LISTS programs)
    set(type "")
    if(TARGET ${program})
      get_target_property(type ${program} TYPE)
    endif()
    if(type STREQUAL "EXECUTABLE")
      set(kind e2e)
    endif()
  endforeach()
  foreach(library IN LISTS ZARN_E2E_LIBRARIES)
    if(library IN_LIST libraries)
      set(kind e2e)
    endif()
  endforeach()
  # gtest_discover_tests flattens its properties into name/value pairs, so a test carries one
  # label of its own; the folder's (and any extra ones) go on the directory, which CTest
  # hands to every test in it.
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" folder "${folder}")
  list(REMOVE_ITEM labels unit e2e)
  set_property(DIRECTORY APPEND PROPERTY LABELS ${folder} ${labels})
  # ZARN_TEST_SOURCE_DIR and ZARN_BINARY_DIR are set by the test main (tests/support).
  set(props TIMEOUT ${timeout} LABELS ${kind})
  if(env)
    # One variable only: gtest_discover_tests splits lists.
    list(APPEND props ENVIRONMENT "${env}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()
