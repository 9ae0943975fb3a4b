# Registration helpers: a new test is one call in tests/CMakeLists.txt (or
# in one of the files it includes).
#
#   applauncher_gtest(<name> LABELS <label>... SOURCES <file>...
#                     [LINK <target>...] [DEFINES <definition>...]
#                     [NEEDS <target>...] [TIMEOUT <seconds>])
# builds a GoogleTest program from SOURCES, linked with LINK and GoogleTest
# (its main included), with DEFINES as compile definitions, built after the
# NEEDS targets it runs, and registers each of its tests with CTest under
# LABELS (and TIMEOUT, when given).
#
#   applauncher_script_test(<name> LABELS <label>... COMMAND <command>...
#                           [TIMEOUT <seconds>] [SKIPPABLE] [SERIAL]
#                           [FIXTURES_SETUP <fixture>] [FIXTURES_REQUIRED <fixture>])
# registers one command as a test; SKIPPABLE lets it skip with status 77,
# SERIAL runs it with no other test beside it.
#
#   applauncher_valgrind_test(<gtest target>)
# runs that GoogleTest program once more with every launcher it starts
# under valgrind (under_valgrind.sh), when valgrind is there and
# APPLAUNCHER_VALGRIND_TESTS is on.
include_guard(GLOBAL)

function(applauncher_gtest name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "LABELS;SOURCES;LINK;DEFINES;NEEDS")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_SOURCES OR NOT arg_LABELS)
    message(FATAL_ERROR "applauncher_gtest(${name}): needs LABELS and SOURCES; "
      "not understood: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LINK} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ${arg_DEFINES})
  if(arg_NEEDS)
    add_dependencies(${name} ${arg_NEEDS})
  endif()
  set(properties LABELS "${arg_LABELS}")
  if(arg_TIMEOUT)
    list(APPEND properties TIMEOUT ${arg_TIMEOUT})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES ${properties})
endfunction()

function(applauncher_script_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SKIPPABLE;SERIAL"
    "TIMEOUT;FIXTURES_SETUP;FIXTURES_REQUIRED" "LABELS;COMMAND")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_COMMAND OR NOT arg_LABELS)
    message(FATAL_ERROR "applauncher_script_test(${name}): needs LABELS and COMMAND; "
      "not understood: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS "${arg_LABELS}")
  if(arg_SKIPPABLE)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if(arg_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
  foreach(property TIMEOUT FIXTURES_SETUP FIXTURES_REQUIRED)
    if(arg_${property})
      set_tests_properties(${name} PROPERTIES ${property} ${arg_${property}})
    endif()
  endforeach()
endfunction()

option(APPLAUNCHER_VALGRIND_TESTS "Run the process tests under valgrind too" ON)
find_program(VALGRIND valgrind)
function(applauncher_valgrind_test target)
  if(VALGRIND AND APPLAUNCHER_VALGRIND_TESTS)
    applauncher_script_test(${target}_under_valgrind LABELS valgrind
      COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/under_valgrind.sh ${VALGRIND}
              $<TARGET_FILE:${target}>)
  endif()
endfunction()
