# The launcher started by a hostile caller or in a hostile environment,
# with a runtime library that records the launcher's children, its signal
# state and whether it runs in secure mode.
add_library(census_runtime SHARED hostile_environment/census_runtime.c)
target_link_libraries(census_runtime PRIVATE applauncher_interface)
set_target_properties(census_runtime PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)

set(hostileEnvironmentNeeds census_runtime exec_with applauncher_aux)
if(TARGET hux_python)
  list(APPEND hostileEnvironmentNeeds hux_python)
endif()
applauncher_gtest(hostile_environment_test LABELS hostile SOURCES hostile_environment_test.cpp
  LINK hux_runtime_common launch_harness NEEDS ${hostileEnvironmentNeeds}
  DEFINES CENSUS_RUNTIME_LIBRARY="$<TARGET_FILE:census_runtime>"
          REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
          $<$<TARGET_EXISTS:hux_python>:PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>">
          EXEC_WITH="$<TARGET_FILE:exec_with>")
