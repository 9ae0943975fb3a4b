# applauncher-pack run as a process: its refusals, the trees and archives
# it makes, started where they are unpacked.
if(NOT TARGET hux_python)
  message(STATUS "CPython runtime library not built: pack_test skipped")
  return()
endif()
applauncher_gtest(pack_test LABELS process SOURCES pack_test.cpp LINK launch_harness
  NEEDS applauncher_pack applauncher_aux hux_python
  DEFINES PACK_BINARY="$<TARGET_FILE:applauncher_pack>"
          REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
          PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>"
          LAUNCHER_MACHINE="${CMAKE_SYSTEM_PROCESSOR}")
