# The hello sample application as a .deb and an .rpm, made by the `package`
# target:
#   hello-<version>-<deb arch>.deb   e.g. hello-0.1.0-amd64.deb
#   hello-<version>-<cpu>.rpm        e.g. hello-0.1.0-x86_64.rpm
# in the build directory. Both install the install component "hello" alone
# under /opt/hello/ (bin/hello, lib/libapplauncher.so, lib/applauncher.cfg,
# lib/libhux_python.so, share/hello/hello.py); no other component goes in.
# The package's file list names lib/libapplauncher.so, which is how the
# launcher finds it once installed.
#
# The RPM is made only where rpmbuild is found (Debian: rpm).
#
# Sets HELLO_DEB_PACKAGE and HELLO_RPM_PACKAGE (empty without rpmbuild) to
# the full paths the packages are written to, for the tests.
if(NOT TARGET hux_python)
  return()
endif()

set(CPACK_PACKAGE_NAME hello)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "applauncher developers")
set(CPACK_PACKAGE_CONTACT "applauncher developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Sample application started by applauncher on CPython")
set(CPACK_PACKAGE_DESCRIPTION
  "Greets whoever its arguments name. Its executable is the applauncher\
 launcher, which finds lib/libapplauncher.so through this package's file\
 list and starts share/hello/hello.py on the CPython runtime library.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/hello)
set(CPACK_PACKAGE_RELOCATABLE OFF)

# One package holding exactly the "hello" component.
set(CPACK_COMPONENTS_ALL hello)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_COMPONENT_INSTALL ON)

# Architecture names as each package manager spells them.
find_program(HELLO_DPKG_EXECUTABLE dpkg)
mark_as_advanced(HELLO_DPKG_EXECUTABLE)
if(HELLO_DPKG_EXECUTABLE)
  execute_process(COMMAND ${HELLO_DPKG_EXECUTABLE} --print-architecture
    OUTPUT_VARIABLE hello_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT hello_deb_arch)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
    set(hello_deb_arch amd64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(hello_deb_arch arm64)
  else()
    set(hello_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()
set(hello_rpm_arch ${CMAKE_SYSTEM_PROCESSOR})

# deb: the CPython runtime library needs libpython3.11; the launcher and the
# auxiliary library need only libc, which libpython3.11 depends on itself.
set(CPACK_DEBIAN_PACKAGE_NAME hello)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "applauncher developers")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${hello_deb_arch})
set(CPACK_DEBIAN_PACKAGE_DEPENDS libpython3.11)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_FILE_NAME hello-${PROJECT_VERSION}-${hello_deb_arch}.deb)

# rpm: rpmbuild's automatic requirements stay on. They name the shared
# objects the ELF files are linked against (libc.so.6, libpython3.11.so.1.0
# and the like), which is what an RPM-based system must provide; an empty
# rpm database knows none of them, so such a database installs the package
# with --nodeps, as the tests do. The automatic provides are off: the two
# libraries under /opt/hello/lib are loaded by path, for this application
# alone, and must not satisfy other packages' requirements for a library.
set(CPACK_RPM_PACKAGE_NAME hello)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${hello_rpm_arch})
set(CPACK_RPM_PACKAGE_GROUP Applications/System)
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
set(CPACK_RPM_PACKAGE_AUTOPROV OFF)
set(CPACK_RPM_FILE_NAME hello-${PROJECT_VERSION}-${hello_rpm_arch}.rpm)
# /opt belongs to the system, not to this package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /opt)
# No /usr/lib/.build-id links in the package: it owns /opt/hello alone. No
# post-install strip pass: the release files are already stripped, and the
# .rpm ships the same bytes as the .deb. And rpmbuild's dependency check
# opens an rpm database of its own in the packaging directory, not the
# machine's (which rpmbuild would otherwise create if missing).
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none
%define __os_install_post %{nil}
%define _dbpath %{_topdir}/rpmdb")

set(CPACK_GENERATOR DEB)
find_program(HELLO_RPMBUILD_EXECUTABLE rpmbuild)
mark_as_advanced(HELLO_RPMBUILD_EXECUTABLE)
if(HELLO_RPMBUILD_EXECUTABLE)
  list(APPEND CPACK_GENERATOR RPM)
  set(HELLO_RPM_PACKAGE ${CMAKE_BINARY_DIR}/${CPACK_RPM_FILE_NAME})
else()
  message(STATUS "rpmbuild not found (Debian: rpm): the hello .rpm is not made")
  set(HELLO_RPM_PACKAGE "")
endif()
set(HELLO_DEB_PACKAGE ${CMAKE_BINARY_DIR}/${CPACK_DEBIAN_FILE_NAME})

include(CPack)
