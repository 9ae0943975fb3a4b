# The hello packages installed with the real dpkg and rpm (private databases,
# /opt a tmpfs in a private mount namespace) and the installed launcher run;
# skipped (77) without root, unshare or rpm. The packages are built first,
# alone, since building them also builds and installs from the whole tree.
if(DEFINED HELLO_DEB_PACKAGE)
  add_test(NAME hello_packages_build
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target package --config $<CONFIG>)
  set_tests_properties(hello_packages_build PROPERTIES
    FIXTURES_SETUP hello_packages RUN_SERIAL TRUE TIMEOUT 600 LABELS packaging)
  add_test(NAME real_package_managers
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/real_package_managers.sh ${PROJECT_VERSION}
            ${HELLO_DEB_PACKAGE} ${HELLO_RPM_PACKAGE})
  set_tests_properties(real_package_managers PROPERTIES
    FIXTURES_REQUIRED hello_packages SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS packaging)
endif()

# An auxiliary library built against the installed tree, with
# find_package and with pkg-config, run by the installed launcher.
add_test(NAME installed_tree_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/installed_tree_test.sh ${CMAKE_BINARY_DIR}
          $<TARGET_FILE:test_runtime>)
set_tests_properties(installed_tree_test PROPERTIES LABELS install)
