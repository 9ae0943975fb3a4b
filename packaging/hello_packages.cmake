# The sample applications as .deb and .rpm packages, made by the `package`
# target: one pair per application the samples add with
# applauncher_add_application(), named after it:
#   <name>-<version>-<deb arch>.deb   e.g. hello-0.1.0-amd64.deb
#   <name>-<version>-<cpu>.rpm        e.g. hello-0.1.0-x86_64.rpm
# in the build directory. Each holds the application's install component
# alone, under /opt/<name>/ (for hello: bin/hello, lib/libapplauncher.so,
# lib/applauncher.cfg, lib/libhux_python.so, share/hello/hello.py), plus
# /usr/share/doc/<name>/copyright and changelog.gz and the lintian
# overrides /usr/share/lintian/overrides/<name> (sample_docs/: the /opt
# layout's tags, and for a JVM application its jar's place). The package's
# file list names lib/libapplauncher.so, which is how the launcher finds it
# once installed. Dependencies: what dpkg-shlibdeps / rpmbuild find in the
# ELF files, plus what the runtime library declares (applauncher_targets.cmake).
#
# The RPMs are made only where rpmbuild is found (Debian: rpm); no package
# is made without dpkg-shlibdeps (dpkg-dev), file and gzip.
#
# Sets, for the tests, the full paths the packages are written to:
#   APPLAUNCHER_SAMPLE_DEB_PACKAGE_<name>, APPLAUNCHER_SAMPLE_RPM_PACKAGE_<name>
#   (empty without rpmbuild); HELLO_DEB_PACKAGE and HELLO_RPM_PACKAGE for hello.
include(${CMAKE_CURRENT_LIST_DIR}/applauncher_targets.cmake)
get_property(sample_applications GLOBAL PROPERTY APPLAUNCHER_APPLICATIONS)
if(NOT sample_applications)
  return()
endif()
find_program(SAMPLE_GZIP_EXECUTABLE gzip)
find_program(SAMPLE_SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
find_program(SAMPLE_FILE_EXECUTABLE file)
mark_as_advanced(SAMPLE_GZIP_EXECUTABLE SAMPLE_SHLIBDEPS_EXECUTABLE SAMPLE_FILE_EXECUTABLE)
if(NOT SAMPLE_GZIP_EXECUTABLE OR NOT SAMPLE_SHLIBDEPS_EXECUTABLE OR NOT SAMPLE_FILE_EXECUTABLE)
  message(STATUS "gzip, dpkg-shlibdeps or file not found (Debian: gzip, dpkg-dev, file): "
                 "the sample packages are not made")
  return()
endif()

set(sample_maintainer "applauncher developers <applauncher@example.org>")
set(sample_docs ${CMAKE_CURRENT_LIST_DIR}/sample_docs)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${sample_docs}/lintian-overrides.in ${sample_docs}/lintian-overrides-jvm.in)

# The changelog's latest entry must be this version's.
file(STRINGS ${sample_docs}/changelog.in sample_changelog_head LIMIT_COUNT 1)
if(NOT sample_changelog_head MATCHES "^@package@ \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "${sample_docs}/changelog.in: the latest entry is not version "
    "${PROJECT_VERSION}: add one for it")
endif()

# What each sample says about itself (the description's lines as the
# package shows them).
set(sample_summary_hello "sample application started by applauncher on CPython")
set(sample_description_hello [[
The hello sample greets whoever its arguments name; --exit N ends it with
status N. It shows how an application is packaged around applauncher: its
executable, /opt/hello/bin/hello, is the launcher, which finds
lib/libapplauncher.so through this package's file list; that library reads
lib/applauncher.cfg and has the CPython runtime library beside it start
share/hello/hello.py.]])
set(sample_summary_hello-java "sample Java application started by applauncher on the JVM")
set(sample_description_hello-java [[
The hello-java sample greets whoever its arguments name. It shows how a
Java application is packaged around applauncher: its executable is the
launcher, which finds lib/libapplauncher.so through this package's file
list; that library reads lib/applauncher.cfg and has the JVM runtime
library beside it start the sample's main class on the Java runtime.]])

set(CPACK_PACKAGE_NAME applauncher-samples)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "applauncher developers")
set(CPACK_PACKAGE_CONTACT "${sample_maintainer}")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_RELOCATABLE OFF)

# One package per application component; no other component goes in.
set(CPACK_COMPONENTS_ALL "")
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_COMPONENT_INSTALL ON)

# Architecture names as each package manager spells them.
find_program(HELLO_DPKG_EXECUTABLE dpkg)
mark_as_advanced(HELLO_DPKG_EXECUTABLE)
if(HELLO_DPKG_EXECUTABLE)
  execute_process(COMMAND ${HELLO_DPKG_EXECUTABLE} --print-architecture
    OUTPUT_VARIABLE sample_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT sample_deb_arch)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
    set(sample_deb_arch amd64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(sample_deb_arch arm64)
  else()
    set(sample_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()
set(sample_rpm_arch ${CMAKE_SYSTEM_PROCESSOR})

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${sample_maintainer}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${sample_deb_arch})

# rpm: the automatic requirements (applauncher_cpack_application) name the
# shared objects the ELF files are linked against (libc.so.6,
# libpython3.11.so.1.0 and the like); an empty rpm database knows none of
# them, so such a database installs the package with --nodeps, as the tests
# do. No /usr/lib/.build-id links in the package: it owns its tree under
# /opt alone. No post-install strip pass: the release files are already
# stripped, and the .rpm ships the same bytes as the .deb. And rpmbuild's
# dependency check opens an rpm database of its own in the packaging
# directory, not the machine's (which rpmbuild would otherwise create).
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${sample_rpm_arch})
set(CPACK_RPM_PACKAGE_GROUP Applications/System)
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/lintian /usr/share/lintian/overrides)
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none
%define __os_install_post %{nil}
%define _dbpath %{_topdir}/rpmdb")

find_program(HELLO_RPMBUILD_EXECUTABLE rpmbuild)
mark_as_advanced(HELLO_RPMBUILD_EXECUTABLE)
set(CPACK_GENERATOR DEB)
if(HELLO_RPMBUILD_EXECUTABLE)
  list(APPEND CPACK_GENERATOR RPM)
else()
  message(STATUS "rpmbuild not found (Debian: rpm): the sample .rpm packages are not made")
endif()

foreach(name IN LISTS sample_applications)
  get_property(destination GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DESTINATION)
  set(summary "sample application ${name} started by applauncher")
  set(description "The applauncher sample ${name}, installed under /${destination}.")
  if(DEFINED sample_summary_${name})
    set(summary "${sample_summary_${name}}")
    set(description "${sample_description_${name}}")
  endif()
  applauncher_cpack_application(NAME ${name} SUMMARY "${summary}" DESCRIPTION "${description}")
  string(TOUPPER ${name} upper)
  set(CPACK_DEBIAN_${upper}_FILE_NAME ${name}-${PROJECT_VERSION}-${sample_deb_arch}.deb)
  set(CPACK_RPM_${name}_FILE_NAME ${name}-${PROJECT_VERSION}-${sample_rpm_arch}.rpm)
  set(APPLAUNCHER_SAMPLE_DEB_PACKAGE_${name} ${CMAKE_BINARY_DIR}/${CPACK_DEBIAN_${upper}_FILE_NAME})
  set(APPLAUNCHER_SAMPLE_RPM_PACKAGE_${name} "")
  if(HELLO_RPMBUILD_EXECUTABLE)
    set(APPLAUNCHER_SAMPLE_RPM_PACKAGE_${name} ${CMAKE_BINARY_DIR}/${CPACK_RPM_${name}_FILE_NAME})
  endif()

  # Its copyright, changelog (gzip -9n, as Debian ships them) and lintian
  # overrides, in its own component.
  set(package ${name})
  set(maintainer "${sample_maintainer}")
  set(docs ${CMAKE_BINARY_DIR}/packaging/sample_docs/${name})
  configure_file(${sample_docs}/changelog.in ${docs}/changelog @ONLY)
  file(READ ${sample_docs}/lintian-overrides.in overrides)
  get_property(runtime GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_RUNTIME)
  if(runtime STREQUAL "jvm")
    file(READ ${sample_docs}/lintian-overrides-jvm.in jvm_overrides)
    string(APPEND overrides "${jvm_overrides}")
  endif()
  file(CONFIGURE OUTPUT ${docs}/${name} CONTENT "${overrides}" @ONLY)
  execute_process(COMMAND ${SAMPLE_GZIP_EXECUTABLE} -9n -c ${docs}/changelog
    OUTPUT_FILE ${docs}/changelog.gz RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${docs}/changelog failed: ${gzip_result}")
  endif()
  install(FILES ${sample_docs}/copyright ${docs}/changelog.gz
    DESTINATION usr/share/doc/${name} COMPONENT ${name} EXCLUDE_FROM_ALL)
  install(FILES ${docs}/${name}
    DESTINATION usr/share/lintian/overrides COMPONENT ${name} EXCLUDE_FROM_ALL)
endforeach()
if("hello" IN_LIST sample_applications)
  set(HELLO_DEB_PACKAGE "${APPLAUNCHER_SAMPLE_DEB_PACKAGE_hello}")
  set(HELLO_RPM_PACKAGE "${APPLAUNCHER_SAMPLE_RPM_PACKAGE_hello}")
endif()

include(CPack)
