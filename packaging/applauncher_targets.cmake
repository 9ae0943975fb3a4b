# Inside this project: the built targets under the names that
# find_package(applauncher) gives an outside project, and
# applauncher_add_application(). The samples include this file, so do the
# install and packaging files; it takes effect once.
#
#   applauncher::interface       applauncher_interface
#   applauncher::launcher        applauncher
#   applauncher::reference_aux   applauncher_aux
#   applauncher::python_runtime  hux_python, when built
#   applauncher::jvm_runtime     hux_jvm, when built
#
# This is also the one place that says which packages each runtime library
# needs beyond what its ELF file's own dependencies name. The runtime targets
# carry it as the properties APPLAUNCHER_DEBIAN_DEPENDS (a Debian Depends
# list) and APPLAUNCHER_RPM_REQUIRES (an RPM Requires list), which the
# install exports with them and applauncher.pc repeats.
include_guard(GLOBAL)

add_library(applauncher::interface ALIAS applauncher_interface)
add_executable(applauncher::launcher ALIAS applauncher)
add_library(applauncher::reference_aux ALIAS applauncher_aux)

# CPython: libpython<X.Y>, which the library links, and the interpreter
# that becomes sys.executable, /usr/bin/python<X.Y>. On Debian that file is
# python<X.Y>-minimal's, which Debian's Python policy does not let a package
# depend on: python<X.Y> brings it with the whole standard library. RPM
# systems name the interpreter's package python<X.Y> too.
if(TARGET hux_python)
  if(NOT PYTHON_EMBED_VERSION MATCHES "^[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "hux_python is built but python3-embed's version "
      "(PYTHON_EMBED_VERSION) is \"${PYTHON_EMBED_VERSION}\"")
  endif()
  set_target_properties(hux_python PROPERTIES
    EXPORT_NAME python_runtime
    APPLAUNCHER_DEBIAN_DEPENDS
      "libpython${PYTHON_EMBED_VERSION}, python${PYTHON_EMBED_VERSION}"
    APPLAUNCHER_RPM_REQUIRES "python${PYTHON_EMBED_VERSION}"
    EXPORT_PROPERTIES "APPLAUNCHER_DEBIAN_DEPENDS;APPLAUNCHER_RPM_REQUIRES")
  add_library(applauncher::python_runtime ALIAS hux_python)
endif()

# The JVM: the library loads libjvm at run time, so its ELF file names no
# Java package. It finds libjvm.so where Java 9 and later keep it, and the
# samples are built for Java 11: a Java 11 or later runtime is declared.
if(TARGET hux_jvm)
  set_target_properties(hux_jvm PROPERTIES
    EXPORT_NAME jvm_runtime
    APPLAUNCHER_DEBIAN_DEPENDS "default-jre-headless | java11-runtime-headless"
    APPLAUNCHER_RPM_REQUIRES "java-headless"
    EXPORT_PROPERTIES "APPLAUNCHER_DEBIAN_DEPENDS;APPLAUNCHER_RPM_REQUIRES")
  add_library(applauncher::jvm_runtime ALIAS hux_jvm)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/ApplauncherApplication.cmake)
