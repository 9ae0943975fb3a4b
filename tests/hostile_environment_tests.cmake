# The launcher started by a hostile caller or in a hostile environment,
# with a runtime library that records the launcher's children, its signal
# state and whether it runs in secure mode.
add_library(census_runtime SHARED hostile_environment/census_runtime.c)
set_target_properties(census_runtime PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)

add_executable(hostile_environment_test hostile_environment_test.cpp
  ${PROJECT_SOURCE_DIR}/runtimes/common/secure_environment.c
  ${PROJECT_SOURCE_DIR}/runtimes/common/runtime_trace.c)
target_include_directories(hostile_environment_test PRIVATE ${PROJECT_SOURCE_DIR}/runtimes/common)
target_compile_definitions(hostile_environment_test PRIVATE
  CENSUS_RUNTIME_LIBRARY="$<TARGET_FILE:census_runtime>"
  REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
  $<$<TARGET_EXISTS:hux_python>:PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>">
  EXEC_WITH="$<TARGET_FILE:exec_with>")
target_link_libraries(hostile_environment_test PRIVATE launch_harness GTest::gtest
  GTest::gtest_main)
add_dependencies(hostile_environment_test census_runtime exec_with applauncher_aux)
if(TARGET hux_python)
  add_dependencies(hostile_environment_test hux_python)
endif()
gtest_discover_tests(hostile_environment_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS hostile)
