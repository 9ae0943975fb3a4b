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
  PYTHON_PROGRAMS="${CMAKE_CURRENT_SOURCE_DIR}/python"
  PYTHON_DOCTOR="$<TARGET_FILE:applauncher_doctor>")

applauncher_gtest(python_runtime_test LABELS runtime TIMEOUT 300 LINK launch_harness
  SOURCES python_runtime_test.cpp DEFINES ${pythonTestDefinitions}
  NEEDS applauncher_aux hux_python hux_python_without_interpreter applauncher_doctor)

applauncher_gtest(python_library_test LABELS unit LINK quiet_writer ${CMAKE_DL_LIBS}
  SOURCES python/runtime_library_test.cpp DEFINES ${pythonTestDefinitions}
  NEEDS hux_python hux_python_without_interpreter)
target_include_directories(python_library_test PRIVATE ${PROJECT_SOURCE_DIR}/runtimes/python
  ${PROJECT_SOURCE_DIR}/runtimes/common)
