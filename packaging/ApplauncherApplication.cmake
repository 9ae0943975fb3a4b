# ApplauncherApplication
# ----------------------
#
# Ships an application whose bin/ program is the applauncher launcher.
# find_package(applauncher) includes this file.
#
#   applauncher_add_application(NAME <name>
#     RUNTIME python | jvm | <library target> | <path>
#     [ARGS <argument>...]
#     [ENV <NAME=VALUE>...]
#     [JAVA_VERSIONS <N> | <N>-<M>]
#     [CONFIG <file>]
#     [AUXLIB <library target> | <path>]
#     [DESTINATION <dir>]
#     [EXCLUDE_FROM_ALL])
#
# installs, as the install component <name>, under <dir> (relative to the
# install prefix and inside it; default opt/<name>):
#
#   bin/<name>              the launcher (applauncher::launcher)
#   lib/libapplauncher.so   the auxiliary library: AUXLIB, by default the
#                           reference one (applauncher::reference_aux)
#   lib/applauncher.cfg     the reference library's configuration
#   lib/<runtime file>      the runtime library
#
# RUNTIME python and jvm name the runtime libraries applauncher publishes,
# applauncher::python_runtime and applauncher::jvm_runtime; it is an error
# when that runtime library was not built or installed. Any other value is
# a library target or the path of a runtime library file that exists when
# the project is configured (relative paths are taken from the current
# source directory). AUXLIB takes a target or such a path too, CONFIG such
# a path.
#
# The configuration is generated, one line each, in this order:
#
#   runtime=<file name of the runtime library>
#   arg=$APPDIR/bin/<name>          the program name the runtime sees
#   arg=<entry>                     for each ARGS entry
#   env=<entry>                     for each ENV entry (NAME=VALUE)
#   env=HUX_JAVA_VERSIONS=<range>   with JAVA_VERSIONS
#
# Values are written as given: $APPDIR stays for the reference library to
# replace with the application's directory. A value holding a newline or a
# carriage return is refused. CONFIG <file> installs a ready configuration
# instead; it excludes ARGS, ENV and JAVA_VERSIONS.
#
# JAVA_VERSIONS (RUNTIME jvm only) states the Java feature versions the
# application runs on: N (N or later) or N-M, N at least 11. The JVM
# runtime library then takes only a JDK of those versions, and the
# package's runtime dependency becomes, instead of the JVM runtime
# library's own: on Debian javaN-runtime-headless (which the JDK packages
# of Java N and later provide), on RPM java-headless >= 1:N, with
# java-headless <= 1:M for a range.
#
# EXCLUDE_FROM_ALL keeps the component out of a plain `cmake --install`,
# as install(... EXCLUDE_FROM_ALL) does.
#
# For packaging, each call records, as global properties:
#
#   APPLAUNCHER_APPLICATIONS                   the names, in call order
#   APPLAUNCHER_APPLICATION_<name>_DESTINATION <dir>
#   APPLAUNCHER_APPLICATION_<name>_RUNTIME     RUNTIME as given
#   APPLAUNCHER_APPLICATION_<name>_DEBIAN_DEPENDS
#   APPLAUNCHER_APPLICATION_<name>_RPM_REQUIRES
#                                              the runtime target's
#                                              APPLAUNCHER_DEBIAN_DEPENDS and
#                                              APPLAUNCHER_RPM_REQUIRES (empty
#                                              for a runtime given by path)
#
#   applauncher_cpack_application(NAME <name>
#     [SUMMARY <line>]
#     [DESCRIPTION <text>])
#
# sets, in the caller's scope, the CPack variables that make application
# <name> a package of its own named <name>; call it before include(CPack):
#
#   CPACK_COMPONENTS_ALL                           <name> appended
#   CPACK_DEBIAN_<NAME>_PACKAGE_NAME               <name>
#   CPACK_DEBIAN_<NAME>_PACKAGE_SHLIBDEPS          ON: dpkg-shlibdeps adds
#                                                  what the ELF files need
#   CPACK_DEBIAN_<NAME>_PACKAGE_DEPENDS            the runtime's Debian
#                                                  dependencies, when any
#   CPACK_RPM_<name>_PACKAGE_NAME                  <name>
#   CPACK_RPM_<name>_PACKAGE_AUTOREQ               ON: rpmbuild adds what the
#                                                  ELF files need
#   CPACK_RPM_<name>_PACKAGE_AUTOPROV              OFF: the libraries under
#                                                  <dir>/lib are private
#   CPACK_RPM_<name>_PACKAGE_REQUIRES              the runtime's RPM
#                                                  requirements, when any
#   CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION  the directories above
#                                                  <dir> appended: the package
#                                                  owns <dir>, not /opt
#   CPACK_DEBIAN_<NAME>_DESCRIPTION,
#   CPACK_RPM_<name>_PACKAGE_SUMMARY,
#   CPACK_RPM_<name>_PACKAGE_DESCRIPTION           from SUMMARY and
#                                                  DESCRIPTION, when given
#
# (<NAME> is <name> in upper case.) The caller chooses the rest:
# CPACK_GENERATOR, CPACK_DEB_COMPONENT_INSTALL / CPACK_RPM_COMPONENT_INSTALL
# ON, CPACK_PACKAGING_INSTALL_PREFIX "/" (so that opt/<name> is
# /opt/<name>), the maintainer and the version.
include_guard(GLOBAL)

# Fails, naming the function and `keyword`, when any further argument (an
# entry given to that keyword) holds a line break.
function(_applauncher_refuse_line_breaks keyword)
  foreach(value IN LISTS ARGN)
    if(value MATCHES "[\r\n]")
      message(FATAL_ERROR "applauncher_add_application: ${keyword} entry \"${value}\" "
        "holds a line break; the configuration has one value per line")
    endif()
  endforeach()
endfunction()

# Sets `out` to the file to install for keyword `keyword` given `value`: a
# generator expression for a library target, else the absolute path of an
# existing file; fails naming the keyword otherwise.
function(_applauncher_library_file out keyword value)
  if(TARGET "${value}")
    get_target_property(type "${value}" TYPE)
    if(NOT type MATCHES "^(SHARED_LIBRARY|MODULE_LIBRARY|UNKNOWN_LIBRARY)$")
      message(FATAL_ERROR "applauncher_add_application: ${keyword} ${value} is a "
        "${type} target, not a shared library")
    endif()
    set(${out} "$<TARGET_FILE:${value}>" PARENT_SCOPE)
    return()
  endif()
  get_filename_component(path "${value}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "applauncher_add_application: ${keyword} ${value} is neither "
      "a library target nor an existing file")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

# Checks JAVA_VERSIONS `versions` ("N" or "N-M", 11 <= N <= M) for
# RUNTIME `runtime` (which must be jvm), failing naming the keyword; sets
# `debian_out` and `rpm_out` to the package dependencies that stand for it.
function(_applauncher_java_dependencies fn runtime versions debian_out rpm_out)
  if(NOT runtime STREQUAL "jvm")
    message(FATAL_ERROR "${fn}: JAVA_VERSIONS is for RUNTIME jvm, not ${runtime}")
  endif()
  if(NOT versions MATCHES "^([1-9][0-9]*)(-([1-9][0-9]*))?$")
    message(FATAL_ERROR "${fn}: JAVA_VERSIONS \"${versions}\" is not N or N-M "
      "(Java feature versions, as 17 or 11-21)")
  endif()
  set(low "${CMAKE_MATCH_1}")
  set(high "${CMAKE_MATCH_3}")
  if(low LESS 11 OR (NOT high STREQUAL "" AND high LESS low))
    message(FATAL_ERROR "${fn}: JAVA_VERSIONS ${versions}: the versions must be 11 or "
      "later (the JVM runtime library's least), the first no greater than the second")
  endif()
  set(${debian_out} "java${low}-runtime-headless" PARENT_SCOPE)
  if(high STREQUAL "")
    set(${rpm_out} "java-headless >= 1:${low}" PARENT_SCOPE)
  else()
    set(${rpm_out} "(java-headless >= 1:${low} with java-headless <= 1:${high})" PARENT_SCOPE)
  endif()
endfunction()

# The text of `value` for file(GENERATE): "$<" written so that it stays
# literal.
function(_applauncher_literal out value)
  string(REPLACE "$<" "$<1:$><" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Fails, naming function `fn`, on what cmake_parse_arguments left in the
# caller's arg_ variables: unknown arguments, keywords without a value, and
# any of the keywords after `fn` that was not given. A macro, so that it
# reads the caller's variables.
macro(_applauncher_check_arguments fn)
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${fn}: unknown argument(s): ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(keyword IN LISTS arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${fn}: ${keyword} given without a value")
  endforeach()
  foreach(keyword ${ARGN})
    if(NOT DEFINED arg_${keyword})
      message(FATAL_ERROR "${fn}: ${keyword} is required")
    endif()
  endforeach()
endmacro()

# Installs application NAME (see the top of this file).
function(applauncher_add_application)
  set(fn applauncher_add_application)
  cmake_parse_arguments(PARSE_ARGV 0 arg "EXCLUDE_FROM_ALL"
    "NAME;RUNTIME;CONFIG;AUXLIB;DESTINATION;JAVA_VERSIONS" "ARGS;ENV")
  _applauncher_check_arguments(${fn} NAME RUNTIME)
  set(name "${arg_NAME}")
  if(NOT name MATCHES "^[A-Za-z0-9][A-Za-z0-9._+-]*$")
    message(FATAL_ERROR "${fn}: NAME \"${name}\" is not a plain file name "
      "(letters, digits, '.', '_', '+', '-')")
  endif()
  get_property(known GLOBAL PROPERTY APPLAUNCHER_APPLICATIONS)
  if(name IN_LIST known)
    message(FATAL_ERROR "${fn}: NAME ${name} is already an application")
  endif()
  if(DEFINED arg_CONFIG AND (DEFINED arg_ARGS OR DEFINED arg_ENV OR
                              DEFINED arg_JAVA_VERSIONS))
    message(FATAL_ERROR "${fn}: CONFIG excludes ARGS, ENV and JAVA_VERSIONS (the "
      "configuration is either given or generated)")
  endif()
  if(DEFINED arg_JAVA_VERSIONS)
    _applauncher_java_dependencies(${fn} "${arg_RUNTIME}" "${arg_JAVA_VERSIONS}"
      java_debian_depends java_rpm_requires)
  endif()
  set(destination "opt/${name}")
  if(DEFINED arg_DESTINATION)
    set(destination "${arg_DESTINATION}")
  endif()
  if(IS_ABSOLUTE "${destination}")
    message(FATAL_ERROR "${fn}: DESTINATION ${destination} must be relative to the "
      "install prefix")
  endif()
  cmake_path(SET destination NORMALIZE "${destination}")
  string(REGEX REPLACE "(.)/+$" "\\1" destination "${destination}")
  if(destination STREQUAL "" OR destination MATCHES "^\\.\\.(/|$)")
    message(FATAL_ERROR "${fn}: DESTINATION \"${arg_DESTINATION}\" must name a "
      "directory inside the install prefix (\".\" for the prefix itself)")
  endif()
  _applauncher_refuse_line_breaks(ARGS ${arg_ARGS})
  _applauncher_refuse_line_breaks(ENV ${arg_ENV})
  foreach(entry IN LISTS arg_ENV)
    if(NOT entry MATCHES "^[^=]+=")
      message(FATAL_ERROR "${fn}: ENV entry \"${entry}\" is not NAME=VALUE")
    endif()
  endforeach()
  if(NOT TARGET applauncher::launcher)
    message(FATAL_ERROR "${fn}: applauncher::launcher is not defined; "
      "find_package(applauncher) first")
  endif()

  # The runtime library.
  set(runtime_target "")
  if(arg_RUNTIME STREQUAL "python" OR arg_RUNTIME STREQUAL "jvm")
    set(runtime_target "applauncher::${arg_RUNTIME}_runtime")
    if(NOT TARGET ${runtime_target})
      message(FATAL_ERROR "${fn}: RUNTIME ${arg_RUNTIME}: this applauncher was built "
        "or installed without its ${arg_RUNTIME} runtime library (${runtime_target})")
    endif()
  elseif(TARGET "${arg_RUNTIME}")
    set(runtime_target "${arg_RUNTIME}")
  endif()
  set(debian_depends "")
  set(rpm_requires "")
  if(runtime_target)
    _applauncher_library_file(runtime_file RUNTIME "${runtime_target}")
    set(runtime_line "$<TARGET_FILE_NAME:${runtime_target}>")
    get_target_property(debian_depends ${runtime_target} APPLAUNCHER_DEBIAN_DEPENDS)
    get_target_property(rpm_requires ${runtime_target} APPLAUNCHER_RPM_REQUIRES)
  else()
    _applauncher_library_file(runtime_file RUNTIME "${arg_RUNTIME}")
    get_filename_component(runtime_line "${runtime_file}" NAME)
    if(runtime_line MATCHES "^(libapplauncher\\.so|applauncher\\.cfg)$")
      message(FATAL_ERROR "${fn}: RUNTIME ${arg_RUNTIME}: the file name ${runtime_line} "
        "is the auxiliary library's or its configuration's")
    endif()
    _applauncher_refuse_line_breaks(RUNTIME "${runtime_line}")
    _applauncher_literal(runtime_line "${runtime_line}")
  endif()
  foreach(variable debian_depends rpm_requires)
    if(NOT ${variable})
      set(${variable} "")
    endif()
    if(DEFINED arg_JAVA_VERSIONS)
      set(${variable} "${java_${variable}}")
    endif()
  endforeach()

  # The auxiliary library.
  if(DEFINED arg_AUXLIB)
    _applauncher_library_file(auxlib_file AUXLIB "${arg_AUXLIB}")
  elseif(TARGET applauncher::reference_aux)
    set(auxlib_file "$<TARGET_FILE:applauncher::reference_aux>")
  else()
    message(FATAL_ERROR "${fn}: no AUXLIB given and applauncher::reference_aux "
      "is not defined; find_package(applauncher) first")
  endif()

  # The configuration.
  if(DEFINED arg_CONFIG)
    get_filename_component(config_file "${arg_CONFIG}" ABSOLUTE
      BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${config_file}" OR IS_DIRECTORY "${config_file}")
      message(FATAL_ERROR "${fn}: CONFIG ${arg_CONFIG} is not an existing file")
    endif()
  else()
    set(content "runtime=${runtime_line}\narg=$APPDIR/bin/${name}\n")
    foreach(entry IN LISTS arg_ARGS)
      _applauncher_literal(entry "${entry}")
      string(APPEND content "arg=${entry}\n")
    endforeach()
    foreach(entry IN LISTS arg_ENV)
      _applauncher_literal(entry "${entry}")
      string(APPEND content "env=${entry}\n")
    endforeach()
    if(DEFINED arg_JAVA_VERSIONS)
      string(APPEND content "env=HUX_JAVA_VERSIONS=${arg_JAVA_VERSIONS}\n")
    endif()
    set(config_file "${CMAKE_CURRENT_BINARY_DIR}/applauncher/${name}/applauncher.cfg")
    file(GENERATE OUTPUT "${config_file}" CONTENT "${content}")
  endif()

  set(exclude "")
  if(arg_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  install(PROGRAMS "$<TARGET_FILE:applauncher::launcher>" DESTINATION "${destination}/bin"
    RENAME "${name}" COMPONENT "${name}" ${exclude})
  install(FILES "${auxlib_file}" DESTINATION "${destination}/lib"
    RENAME libapplauncher.so COMPONENT "${name}" ${exclude})
  install(FILES "${config_file}" DESTINATION "${destination}/lib"
    RENAME applauncher.cfg COMPONENT "${name}" ${exclude})
  install(FILES "${runtime_file}" DESTINATION "${destination}/lib"
    COMPONENT "${name}" ${exclude})

  set_property(GLOBAL APPEND PROPERTY APPLAUNCHER_APPLICATIONS "${name}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DESTINATION "${destination}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_RUNTIME "${arg_RUNTIME}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DEBIAN_DEPENDS
    "${debian_depends}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_RPM_REQUIRES "${rpm_requires}")
endfunction()

# Sets the CPack variables for application NAME's own package (see the top
# of this file).
function(applauncher_cpack_application)
  set(fn applauncher_cpack_application)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;SUMMARY;DESCRIPTION" "")
  _applauncher_check_arguments(${fn} NAME)
  set(name "${arg_NAME}")
  get_property(known GLOBAL PROPERTY APPLAUNCHER_APPLICATIONS)
  if(NOT name IN_LIST known)
    message(FATAL_ERROR "${fn}: NAME ${name} is no application "
      "(applauncher_add_application(NAME ${name} ...) first)")
  endif()
  if(NOT name MATCHES "^[a-z0-9][a-z0-9.+-]+$")
    message(FATAL_ERROR "${fn}: NAME ${name} is not a valid package name "
      "(lower-case letters, digits, '.', '+', '-'; at least two)")
  endif()
  if(DEFINED arg_SUMMARY AND arg_SUMMARY MATCHES "[\r\n]")
    message(FATAL_ERROR "${fn}: SUMMARY must be one line")
  endif()
  get_property(destination GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DESTINATION)
  get_property(debian_depends GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DEBIAN_DEPENDS)
  get_property(rpm_requires GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_RPM_REQUIRES)
  string(TOUPPER "${name}" upper)

  set(components ${CPACK_COMPONENTS_ALL} ${name})
  list(REMOVE_DUPLICATES components)
  set(CPACK_COMPONENTS_ALL ${components} PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME "${name}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SHLIBDEPS ON PARENT_SCOPE)
  if(debian_depends)
    set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${debian_depends}" PARENT_SCOPE)
  endif()
  set(CPACK_RPM_${name}_PACKAGE_NAME "${name}" PARENT_SCOPE)
  set(CPACK_RPM_${name}_PACKAGE_AUTOREQ ON PARENT_SCOPE)
  set(CPACK_RPM_${name}_PACKAGE_AUTOPROV OFF PARENT_SCOPE)
  if(rpm_requires)
    set(CPACK_RPM_${name}_PACKAGE_REQUIRES "${rpm_requires}" PARENT_SCOPE)
  endif()

  # The directories above DESTINATION belong to the system.
  set(parents ${CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION})
  get_filename_component(parent "/${destination}" DIRECTORY)
  while(NOT parent STREQUAL "/")
    list(APPEND parents "${parent}")
    get_filename_component(parent "${parent}" DIRECTORY)
  endwhile()
  list(REMOVE_DUPLICATES parents)
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION ${parents} PARENT_SCOPE)

  if(DEFINED arg_SUMMARY)
    set(CPACK_RPM_${name}_PACKAGE_SUMMARY "${arg_SUMMARY}" PARENT_SCOPE)
    set(CPACK_DEBIAN_${upper}_DESCRIPTION "${arg_SUMMARY}" PARENT_SCOPE)
    if(DEFINED arg_DESCRIPTION)
      set(CPACK_DEBIAN_${upper}_DESCRIPTION "${arg_SUMMARY}\n${arg_DESCRIPTION}" PARENT_SCOPE)
    endif()
  endif()
  if(DEFINED arg_DESCRIPTION)
    set(CPACK_RPM_${name}_PACKAGE_DESCRIPTION "${arg_DESCRIPTION}" PARENT_SCOPE)
  endif()
endfunction()
