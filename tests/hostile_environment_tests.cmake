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

# The hostile caller of a privileged launcher: each way a caller could make
# it run code of the caller's choosing, against a copy with a file
# capability (and a set-user-id root copy), with a payload that proves the
# privilege it would run with.
add_library(privilege_proof SHARED hostile_environment/privilege_proof.c)
set_target_properties(privilege_proof PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)
set(privilegedCallerNeeds census_runtime privilege_proof applauncher_aux)
set(privilegedCallerDefines
  CENSUS_RUNTIME_LIBRARY="$<TARGET_FILE:census_runtime>"
  PRIVILEGE_PROOF_LIBRARY="$<TARGET_FILE:privilege_proof>"
  REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>")
if(TARGET hux_python)
  list(APPEND privilegedCallerNeeds hux_python)
  list(APPEND privilegedCallerDefines PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>")
endif()
if(TARGET jvm_test_probe)
  list(APPEND privilegedCallerNeeds hux_jvm jvm_test_probe)
  list(APPEND privilegedCallerDefines JVM_RUNTIME_LIBRARY="$<TARGET_FILE:hux_jvm>"
    JVM_TEST_JAVA_HOME="${jvm_test_java_home}"
    PROBE_JAR="$<TARGET_PROPERTY:jvm_test_probe,JAR_FILE>")
endif()
applauncher_gtest(privileged_caller_test LABELS hostile TIMEOUT 300
  SOURCES privileged_caller_test.cpp LINK launch_harness NEEDS ${privilegedCallerNeeds}
  DEFINES ${privilegedCallerDefines})
