# applauncher-doctor run as a process against application trees broken in
# each way its steps can fail, with test libraries of its own (doctor/):
# an auxiliary library that breaks the contract on request, a runtime
# library with a HUX_Check, one that needs a library the test removes, and
# one that needs the C++ runtime without saying so.
function(add_doctor_test_library target)
  add_library(${target} SHARED ${ARGN})
  target_link_libraries(${target} PRIVATE applauncher_interface)
  set_target_properties(${target} PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)
endfunction()

add_doctor_test_library(doctor_contract_aux doctor/contract_aux.c)
add_doctor_test_library(doctor_checking_runtime doctor/checking_runtime.c)
add_doctor_test_library(doctor_stub doctor/stub_dependency.c)
add_doctor_test_library(doctor_dependent_runtime doctor/dependent_runtime.c)
target_link_libraries(doctor_dependent_runtime PRIVATE doctor_stub)
set_target_properties(doctor_dependent_runtime PROPERTIES
  BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN")
add_doctor_test_library(doctor_underlinked_runtime doctor/underlinked_runtime.c)

set(doctorTestDefinitions
  DOCTOR_BINARY="$<TARGET_FILE:applauncher_doctor>"
  REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
  CONTRACT_AUX_LIBRARY="$<TARGET_FILE:doctor_contract_aux>"
  CHECKING_RUNTIME_LIBRARY="$<TARGET_FILE:doctor_checking_runtime>"
  STUB_LIBRARY="$<TARGET_FILE:doctor_stub>"
  DEPENDENT_RUNTIME_LIBRARY="$<TARGET_FILE:doctor_dependent_runtime>"
  UNDERLINKED_RUNTIME_LIBRARY="$<TARGET_FILE:doctor_underlinked_runtime>")
set(doctorTestLibraries applauncher_doctor applauncher_aux doctor_contract_aux
  doctor_checking_runtime doctor_stub doctor_dependent_runtime doctor_underlinked_runtime)
if(TARGET hux_python)
  list(APPEND doctorTestDefinitions PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>")
  list(APPEND doctorTestLibraries hux_python)
endif()
if(TARGET hux_jvm)
  list(APPEND doctorTestDefinitions JVM_RUNTIME_LIBRARY="$<TARGET_FILE:hux_jvm>")
  list(APPEND doctorTestLibraries hux_jvm)
endif()

applauncher_gtest(doctor_test LABELS process SOURCES doctor_test.cpp LINK launch_harness
  DEFINES ${doctorTestDefinitions} NEEDS ${doctorTestLibraries})

# The doctor is installed beside the launcher and hardened as it is.
applauncher_script_test(doctor_hardening_check LABELS hardening
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/hardening_check.sh
          --fortify=$<IF:$<CONFIG:Release,RelWithDebInfo,MinSizeRel>,yes,no>
          $<TARGET_FILE:applauncher_doctor>)
