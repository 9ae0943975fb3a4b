# The launcher started by a hostile caller or in a hostile environment,
# with a runtime library that records the launcher's children, its signal
# state and whether it runs in secure mode.
add_library(census_runtime SHARED hostile_environment/census_runtime.c)
set_target_properties(census_runtime PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)

add_executable(hostile_environment_test hostile_environment_test.cpp)
target_compile_definitions(hostile_environment_test PRIVATE
  CENSUS_RUNTIME_LIBRARY="$<TARGET_FILE:census_runtime>"
  REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
  EXEC_WITH="$<TARGET_FILE:exec_with>")
target_link_libraries(hostile_environment_test PRIVATE launch_harness GTest::gtest
  GTest::gtest_main)
add_dependencies(hostile_environment_test census_runtime exec_with applauncher_aux)
gtest_discover_tests(hostile_environment_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS hostile)
