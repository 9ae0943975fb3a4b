# The sample packages, built first and alone (building them also builds and
# installs from the whole tree), then: the hello packages installed with the
# real dpkg and rpm (private databases, /opt a tmpfs and /usr an overlay in a
# private mount namespace) and the installed launcher run; lintian on every
# sample's .deb. Skipped (77) without root, unshare, rpm or lintian.
if(DEFINED HELLO_DEB_PACKAGE)
  applauncher_script_test(hello_packages_build LABELS packaging TIMEOUT 600 SERIAL
    FIXTURES_SETUP hello_packages
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target package --config $<CONFIG>)
  applauncher_script_test(real_package_managers LABELS packaging TIMEOUT 300 SKIPPABLE
    FIXTURES_REQUIRED hello_packages
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/real_package_managers.sh ${PROJECT_VERSION}
            "$<TARGET_PROPERTY:hux_python,APPLAUNCHER_DEBIAN_DEPENDS>"
            "$<TARGET_PROPERTY:hux_python,APPLAUNCHER_RPM_REQUIRES>"
            ${HELLO_DEB_PACKAGE} ${HELLO_RPM_PACKAGE})

  get_property(sample_applications GLOBAL PROPERTY APPLAUNCHER_APPLICATIONS)
  set(sample_debs "")
  foreach(name IN LISTS sample_applications)
    list(APPEND sample_debs ${APPLAUNCHER_SAMPLE_DEB_PACKAGE_${name}})
  endforeach()
  applauncher_script_test(sample_packages_lintian LABELS packaging TIMEOUT 300 SKIPPABLE
    FIXTURES_REQUIRED hello_packages
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/lintian_check.sh ${sample_debs})
endif()

# A project outside the tree ships a Python application with
# applauncher_add_application() against the installed development files,
# as a .deb that the real dpkg installs (privately) and the launcher runs.
if(TARGET hux_python)
  applauncher_script_test(outside_project_test LABELS packaging TIMEOUT 300 SKIPPABLE
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/outside_project_test.sh ${CMAKE_BINARY_DIR})
endif()

# applauncher_add_application()'s configuration, install rules, packaging
# data and argument errors, with stand-ins for the installed targets.
applauncher_script_test(application_function_test LABELS install
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/application_function_test.sh
          ${PROJECT_SOURCE_DIR}/packaging/ApplauncherApplication.cmake
          $<TARGET_FILE:applauncher_pack>)

# An auxiliary library built against the installed tree, with
# find_package and with pkg-config, run by the installed launcher; the
# runtime targets and pkg-config variables agree.
applauncher_script_test(installed_tree_test LABELS install
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/installed_tree_test.sh ${CMAKE_BINARY_DIR}
          $<TARGET_FILE:test_runtime>)

# The project's own .deb and .rpm packages, built from the source tarball
# that the `dist` target makes, checked with lintian, installed with the
# real dpkg into a private database and used; skipped (77) with the reason
# where dpkg-buildpackage, root and private mounts, or rpmbuild are missing.
# The package builds skip their own test runs: this suite is that run.
applauncher_script_test(source_tarball LABELS packaging FIXTURES_SETUP source_tarball
  COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target dist)
applauncher_script_test(distribution_packages LABELS packaging TIMEOUT 1800 SKIPPABLE SERIAL
  FIXTURES_REQUIRED source_tarball
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/distribution_packages_test.sh
          ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}.tar.gz
          $<TARGET_FILE:test_runtime>)
