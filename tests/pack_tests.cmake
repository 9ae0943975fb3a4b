# applauncher-pack run as a process on applications it makes in temporary
# trees, with APPLAUNCHER_PACK_FILES naming the build tree's launcher and
# libraries.
if(NOT TARGET hux_python)
  message(STATUS "CPython runtime library not built: the applauncher-pack tests skipped")
  return()
endif()

# Its refusals, the trees and archives it makes, started where they are
# unpacked, with two launchers in one tree.
applauncher_gtest(pack_test LABELS process SOURCES pack_test.cpp LINK launch_harness
  NEEDS applauncher_pack applauncher_aux hux_python
  DEFINES PACK_BINARY="$<TARGET_FILE:applauncher_pack>"
          REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
          PYTHON_RUNTIME_LIBRARY="$<TARGET_FILE:hux_python>"
          LAUNCHER_MACHINE="${CMAKE_SYSTEM_PROCESSOR}")

# The desktop files: entries, icons, file types and AppStream metadata
# checked by their own validators, an entry's Exec= run, and the refusals.
# Skipped (77) without desktop-file-validate, appstreamcli or
# update-mime-database.
applauncher_script_test(pack_desktop_test LABELS pack TIMEOUT 300 SKIPPABLE
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pack_desktop_test.sh $<TARGET_FILE:applauncher_pack>
          $<TARGET_FILE:applauncher> $<TARGET_FILE:applauncher_aux> $<TARGET_FILE:hux_python>)

# applauncher-pack makes a .deb and an .rpm of a Python and of a Java
# program: refusals, byte-identical repeats, contents, lintian, and each
# installed with the real dpkg and rpm (private databases, private mount
# namespace) and run through its owning package. Skipped (77) without
# root, unshare, dpkg-dev, rpmbuild, lintian or a JDK.
if(TARGET hux_jvm)
  applauncher_script_test(pack_packages LABELS packaging TIMEOUT 900 SKIPPABLE
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pack_packages_test.sh $<TARGET_FILE:applauncher_pack>
            $<TARGET_FILE:applauncher> $<TARGET_FILE:applauncher_aux>
            $<TARGET_FILE:hux_python> $<TARGET_FILE:hux_jvm>)
endif()

# Its Java parts as unit tests, the RPM requirement on the system's Java
# judged by the real rpm, and Java applications packed by the built
# command, started from a bundled runtime with the system's JDKs hidden
# (pack_java_test.sh).
applauncher_gtest(pack_java_unit_test LABELS unit SOURCES pack_java_unit_test.cpp
  LINK applauncher_pack_parts)
applauncher_gtest(pack_java_rpm_test LABELS packaging SOURCES pack_java_rpm_test.cpp
  LINK applauncher_pack_parts TIMEOUT 300)
if(TARGET hux_jvm)
  applauncher_script_test(pack_java_test LABELS packaging TIMEOUT 1500 SKIPPABLE
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pack_java_test.sh $<TARGET_FILE:applauncher_pack>
            $<TARGET_FILE:applauncher> $<TARGET_FILE:applauncher_aux> $<TARGET_FILE:hux_jvm>)
endif()

# Programs of Debian's archive packed whole: rhino's jar (on the system's
# Java and with a bundled runtime) and yamllint's package directory (with
# --depends and --requires), each into an app-image, a .deb and an .rpm
# with one command; byte-identical second packs, lintian, the app-image
# run elsewhere, the packages installed with the real dpkg and rpm
# (private databases, private mount namespace) and run through their
# owning package, each printing what Debian's own program prints. Skipped
# (77) without root, unshare, dpkg-dev, rpmbuild, lintian, a JDK, rhino or
# yamllint.
if(TARGET hux_jvm)
  applauncher_script_test(pack_real_programs LABELS packaging TIMEOUT 900 SKIPPABLE
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pack_real_programs_test.sh
            $<TARGET_FILE:applauncher_pack> $<TARGET_FILE:applauncher>
            $<TARGET_FILE:applauncher_aux> $<TARGET_FILE:hux_python> $<TARGET_FILE:hux_jvm>)
endif()
