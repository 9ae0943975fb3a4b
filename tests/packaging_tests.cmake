# The sample packages, built first and alone (building them also builds and
# installs from the whole tree), then: the hello packages installed with the
# real dpkg and rpm (private databases, /opt a tmpfs and /usr an overlay in a
# private mount namespace) and the installed launcher run; lintian on every
# sample's .deb. Skipped (77) without root, unshare, rpm or lintian.
if(DEFINED HELLO_DEB_PACKAGE)
  add_test(NAME hello_packages_build
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target package --config $<CONFIG>)
  set_tests_properties(hello_packages_build PROPERTIES
    FIXTURES_SETUP hello_packages RUN_SERIAL TRUE TIMEOUT 600 LABELS packaging)
  add_test(NAME real_package_managers
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/real_package_managers.sh ${PROJECT_VERSION}
            "$<TARGET_PROPERTY:hux_python,APPLAUNCHER_DEBIAN_DEPENDS>"
            "$<TARGET_PROPERTY:hux_python,APPLAUNCHER_RPM_REQUIRES>"
            ${HELLO_DEB_PACKAGE} ${HELLO_RPM_PACKAGE})
  set_tests_properties(real_package_managers PROPERTIES
    FIXTURES_REQUIRED hello_packages SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS packaging)

  get_property(sample_applications GLOBAL PROPERTY APPLAUNCHER_APPLICATIONS)
  set(sample_debs "")
  foreach(name IN LISTS sample_applications)
    list(APPEND sample_debs ${APPLAUNCHER_SAMPLE_DEB_PACKAGE_${name}})
  endforeach()
  add_test(NAME sample_packages_lintian
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/lintian_check.sh ${sample_debs})
  set_tests_properties(sample_packages_lintian PROPERTIES
    FIXTURES_REQUIRED hello_packages SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS packaging)
endif()

# A project outside the tree ships a Python application with
# applauncher_add_application() against the installed development files,
# as a .deb that the real dpkg installs (privately) and the launcher runs.
if(TARGET hux_python)
  add_test(NAME outside_project_test
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/outside_project_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(outside_project_test PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS packaging)
endif()

# applauncher_add_application()'s configuration, install rules, packaging
# data and argument errors, with stand-ins for the installed targets.
add_test(NAME application_function_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/application_function_test.sh
          ${PROJECT_SOURCE_DIR}/packaging/ApplauncherApplication.cmake)
set_tests_properties(application_function_test PROPERTIES LABELS install)

# An auxiliary library built against the installed tree, with
# find_package and with pkg-config, run by the installed launcher; the
# runtime targets and pkg-config variables agree.
add_test(NAME installed_tree_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/installed_tree_test.sh ${CMAKE_BINARY_DIR}
          $<TARGET_FILE:test_runtime>)
set_tests_properties(installed_tree_test PROPERTIES LABELS install)

# The project's own .deb and .rpm packages, built from the source tarball
# that the `dist` target makes, checked with lintian, installed with the
# real dpkg into a private database and used; skipped (77) with the reason
# where dpkg-buildpackage, root and private mounts, or rpmbuild are missing.
add_test(NAME source_tarball
  COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target dist)
set_tests_properties(source_tarball PROPERTIES FIXTURES_SETUP source_tarball LABELS packaging)
add_test(NAME distribution_packages
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/distribution_packages_test.sh
          ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}.tar.gz
          $<TARGET_FILE:test_runtime>)
set_tests_properties(distribution_packages PROPERTIES
  FIXTURES_REQUIRED source_tarball SKIP_RETURN_CODE 77 TIMEOUT 1800 RUN_SERIAL TRUE
  LABELS packaging)
