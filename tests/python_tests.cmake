# The launcher with the reference library and the real CPython runtime.
if(TARGET hux_python)
  add_executable(python_runtime_test python_runtime_test.cpp)
  target_compile_definitions(python_runtime_test PRIVATE
    REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
    PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>")
  target_link_libraries(python_runtime_test PRIVATE launch_harness GTest::gtest
    GTest::gtest_main)
  add_dependencies(python_runtime_test applauncher_aux hux_python)
  gtest_discover_tests(python_runtime_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS runtime)
else()
  message(STATUS "CPython runtime library not built: python_runtime_test skipped")
endif()
