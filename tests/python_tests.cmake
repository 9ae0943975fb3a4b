# The CPython runtime library: the launcher with the reference library and
# the real runtime as a process, and the library's check and trace alone.
if(NOT TARGET hux_python)
  message(STATUS "CPython runtime library not built: python_runtime_test skipped")
  return()
endif()

# A variant whose interpreter is missing, for the refusal and the check.
set(PYTHON_MISSING_INTERPRETER /nonexistent/bin/python3.11)
hux_python_runtime(hux_python_without_interpreter ${PYTHON_MISSING_INTERPRETER})

set(pythonTestDefinitions
  REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
  PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>"
  PYTHON_RUNTIME_WITHOUT_INTERPRETER="$<TARGET_FILE:hux_python_without_interpreter>"
  PYTHON_MISSING_INTERPRETER="${PYTHON_MISSING_INTERPRETER}"
  PYTHON_INTERPRETER="${HUX_PYTHON_INTERPRETER}"
  PYTHON_PROGRAMS="${CMAKE_CURRENT_SOURCE_DIR}/python")

add_executable(python_runtime_test python_runtime_test.cpp)
target_compile_definitions(python_runtime_test PRIVATE ${pythonTestDefinitions})
target_link_libraries(python_runtime_test PRIVATE launch_harness GTest::gtest
  GTest::gtest_main)
add_dependencies(python_runtime_test applauncher_aux hux_python hux_python_without_interpreter)
gtest_discover_tests(python_runtime_test DISCOVERY_TIMEOUT 30
  PROPERTIES LABELS runtime TIMEOUT 300)

add_executable(python_library_test python/runtime_library_test.cpp)
target_compile_definitions(python_library_test PRIVATE ${pythonTestDefinitions})
target_include_directories(python_library_test PRIVATE ${PROJECT_SOURCE_DIR}/runtimes/python
  ${PROJECT_SOURCE_DIR}/runtimes/common)
target_link_libraries(python_library_test PRIVATE GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
add_dependencies(python_library_test hux_python hux_python_without_interpreter)
gtest_discover_tests(python_library_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS unit)
