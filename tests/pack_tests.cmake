# applauncher-pack run as a process on applications it makes in temporary
# trees, with APPLAUNCHER_PACK_FILES naming the build tree's launcher and
# libraries.
if(NOT TARGET hux_python)
  message(STATUS "CPython runtime library not built: the applauncher-pack tests skipped")
  return()
endif()

# The desktop files: entries, icons, file types and AppStream metadata
# checked by their own validators, an entry's Exec= run, and the refusals.
# Skipped (77) without desktop-file-validate, appstreamcli or
# update-mime-database.
applauncher_script_test(pack_desktop_test LABELS pack TIMEOUT 300 SKIPPABLE
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pack_desktop_test.sh $<TARGET_FILE:applauncher_pack>
          $<TARGET_FILE:applauncher> $<TARGET_FILE:applauncher_aux> $<TARGET_FILE:hux_python>)
