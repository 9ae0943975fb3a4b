# What `cmake --install` puts in place for packagers and auxiliary library
# authors (component "development"):
#   libexec/applauncher/applauncher          the launcher
#   lib/applauncher/libapplauncher.so        the reference auxiliary library
#   lib/applauncher/libhux_python.so         the CPython runtime library, when built
#   lib/applauncher/libhux_jvm.so            the JVM runtime library, when built
#   include/applauncher/kivlauncher_api.h    the auxiliary library interface header
#   include/applauncher/hux_runtime_api.h    the runtime library interface header
#                                            (both installed by launcher/)
#   lib/cmake/applauncher/                   find_package(applauncher), with
#                                            applauncher_add_application()
#   lib/pkgconfig/applauncher.pc             pkg-config applauncher
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/applauncher_targets.cmake)

set(applauncher_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/applauncher)

set_target_properties(applauncher_interface PROPERTIES EXPORT_NAME interface)
set_target_properties(applauncher PROPERTIES EXPORT_NAME launcher)
set_target_properties(applauncher_aux PROPERTIES EXPORT_NAME reference_aux)

# The runtime libraries that were built, with their pkg-config variables:
# <name>_runtime (the file), <name>_runtime_deb_depends and
# <name>_runtime_rpm_requires (applauncher_targets.cmake).
set(applauncher_runtime_targets "")
set(pkgconfig_runtime_variables "")
foreach(runtime python jvm)
  if(TARGET hux_${runtime})
    list(APPEND applauncher_runtime_targets hux_${runtime})
    get_target_property(deb_depends hux_${runtime} APPLAUNCHER_DEBIAN_DEPENDS)
    get_target_property(rpm_requires hux_${runtime} APPLAUNCHER_RPM_REQUIRES)
    string(APPEND pkgconfig_runtime_variables
      "${runtime}_runtime=\${libdir}/applauncher/$<TARGET_FILE_NAME:hux_${runtime}>\n"
      "${runtime}_runtime_deb_depends=${deb_depends}\n"
      "${runtime}_runtime_rpm_requires=${rpm_requires}\n")
  endif()
endforeach()

install(TARGETS applauncher_interface applauncher applauncher_aux
  EXPORT applauncherTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/applauncher COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/applauncher COMPONENT development)
# Each runtime library in an export of its own, which the package
# configuration reads only where the library is installed: a distribution
# may ship each runtime library in a package of its own, apart from the
# development files.
foreach(runtime_target IN LISTS applauncher_runtime_targets)
  get_target_property(runtime_name ${runtime_target} EXPORT_NAME)
  install(TARGETS ${runtime_target} EXPORT applauncher_${runtime_name}_targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/applauncher COMPONENT development)
  install(EXPORT applauncher_${runtime_name}_targets NAMESPACE applauncher::
    FILE applauncher-${runtime_name}-targets.cmake
    DESTINATION ${applauncher_cmake_dir} COMPONENT development)
endforeach()
install(EXPORT applauncherTargets NAMESPACE applauncher::
  DESTINATION ${applauncher_cmake_dir} COMPONENT development)

set(applauncher_runtime_dir ${CMAKE_INSTALL_LIBDIR}/applauncher)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/applauncherConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/applauncherConfig.cmake
  INSTALL_DESTINATION ${applauncher_cmake_dir}
  PATH_VARS applauncher_runtime_dir)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/applauncherConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
file(RELATIVE_PATH pkgconfig_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" pkgconfig_to_prefix "${pkgconfig_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/applauncher.pc.in
  ${CMAKE_BINARY_DIR}/packaging/applauncher.pc.in @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/packaging/applauncher.pc
  INPUT ${CMAKE_BINARY_DIR}/packaging/applauncher.pc.in)
install(FILES ${CMAKE_BINARY_DIR}/packaging/applauncherConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/applauncherConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/ApplauncherApplication.cmake
  DESTINATION ${applauncher_cmake_dir} COMPONENT development)
install(FILES ${CMAKE_BINARY_DIR}/packaging/applauncher.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
