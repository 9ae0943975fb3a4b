# What `cmake --install` puts in place for packagers and auxiliary library
# authors (component "development"):
#   libexec/applauncher/applauncher          the launcher
#   lib/applauncher/libapplauncher.so        the reference auxiliary library
#   lib/applauncher/libhux_python.so         the CPython runtime library, when built
#   include/applauncher/kivlauncher_api.h    the interface header
#   lib/cmake/applauncher/                   find_package(applauncher)
#   lib/pkgconfig/applauncher.pc             pkg-config applauncher
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(applauncher_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/applauncher)

set_target_properties(applauncher_interface PROPERTIES EXPORT_NAME interface)
set_target_properties(applauncher PROPERTIES EXPORT_NAME launcher)
set_target_properties(applauncher_aux PROPERTIES EXPORT_NAME reference_aux)

install(TARGETS applauncher_interface applauncher applauncher_aux
  EXPORT applauncherTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/applauncher COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/applauncher COMPONENT development)
if(TARGET hux_python)
  install(TARGETS hux_python
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/applauncher COMPONENT development)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/launcher/kivlauncher_api.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/applauncher COMPONENT development)
install(EXPORT applauncherTargets NAMESPACE applauncher::
  DESTINATION ${applauncher_cmake_dir} COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/applauncherConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/applauncherConfig.cmake
  INSTALL_DESTINATION ${applauncher_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/applauncherConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
file(RELATIVE_PATH pkgconfig_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" pkgconfig_to_prefix "${pkgconfig_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/applauncher.pc.in
  ${CMAKE_BINARY_DIR}/packaging/applauncher.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/applauncherConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/applauncherConfigVersion.cmake
  DESTINATION ${applauncher_cmake_dir} COMPONENT development)
install(FILES ${CMAKE_BINARY_DIR}/packaging/applauncher.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
