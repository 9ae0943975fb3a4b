# ApplauncherApplication
# ----------------------
#
# Ships an application whose bin/ programs are the applauncher launcher.
# find_package(applauncher) includes this file.
#
#   applauncher_add_application(NAME <name>
#     RUNTIME python | jvm | <library target> | <path>
#     [ARGS <argument>...]
#     [ENV <NAME=VALUE>...]
#     [ENTRY_POINT <module>:<function>] [MODULE_PATH <dir>]
#     [JAVA_VERSIONS <N> | <N>-<M>]
#     [COMPILE_PYTHON <dir>...]
#     [DESKTOP_ENTRY] [DISPLAY_NAME <text>] [COMMENT <text>]
#     [CATEGORIES <category>...] [TERMINAL] [FILE_TYPES <type>...]
#     [WM_CLASS <class>]
#     [APP_ID <id>] [ICONS <file>...] [APPSTREAM]
#     [VERSION <version>] [SUMMARY <line>] [DESCRIPTION <text>]
#     [HOMEPAGE <url>] [LICENSE <SPDX id>] [VENDOR <name>]
#     [CONFIG <file>]
#     [AUXLIB <library target> | <path>]
#     [DESTINATION <dir>] [PREFIX <dir>] [DESKTOP_DESTINATION <dir>]
#     [EXCLUDE_FROM_ALL]
#     [LAUNCHER <launcher>
#        [ARGS <argument>...] [ENV <NAME=VALUE>...]
#        [ENTRY_POINT <module>:<function>]
#        [DESKTOP_ENTRY] [DISPLAY_NAME <text>] [COMMENT <text>]
#        [CATEGORIES <category>...] [TERMINAL] [FILE_TYPES <type>...]
#        [WM_CLASS <class>]]...)
#
# installs, as the install component <name>, under <dir> (relative to the
# install prefix and inside it; default opt/<name>):
#
#   bin/<name>                      the launcher (applauncher::launcher),
#   bin/<launcher>                  and again for each LAUNCHER
#   lib/libapplauncher.so           the auxiliary library: AUXLIB, by default
#                                   the reference one (applauncher::reference_aux)
#   lib/applauncher.cfg             the reference library's configuration for
#                                   bin/<name>,
#   lib/applauncher-<launcher>.cfg  and for bin/<launcher> (the library reads
#                                   the one named after the program)
#   lib/<runtime file>              the runtime library
#
# and, when a program has DESKTOP_ENTRY, under DESKTOP_DESTINATION
# (relative to the install prefix; default usr/share):
#
#   applications/<id>.desktop, applications/<id>.<launcher>.desktop
#   icons/hicolor/<N>x<N>/apps/<id>.png, icons/hicolor/scalable/apps/<id>.svg
#   mime/packages/<id>.xml          with FILE_TYPES
#   metainfo/<id>.metainfo.xml      with APPSTREAM
#
# RUNTIME python and jvm name the runtime libraries applauncher publishes,
# applauncher::python_runtime and applauncher::jvm_runtime; it is an error
# when that runtime library was not built or installed. Any other value is
# a library target or the path of a runtime library file that exists when
# the project is configured (relative paths are taken from the current
# source directory). AUXLIB takes a target or such a path too, CONFIG,
# ICONS and the like such paths.
#
# The configurations and the desktop files are applauncher-pack's
# (applauncher::pack, run as `applauncher-pack --cmake-parts`): the same
# code writes and checks them as for the pack's own packages. Each
# program's configuration is, one line each, in this order:
#
#   runtime=<file name of the runtime library>
#   arg=$APPDIR/bin/<program>        the program name the runtime sees
#   arg=--module-path                with ENTRY_POINT: the application's
#   arg=$APPDIR/<MODULE_PATH>        own code (default share/<name>)
#   arg=--entry-point                and the function the runtime calls
#   arg=<module>:<function>
#   arg=<entry>                      for each ARGS entry
#   env=<entry>                      for each ENV entry (NAME=VALUE)
#   env=HUX_JAVA_VERSIONS=<range>    with JAVA_VERSIONS
#
# The keywords before the first LAUNCHER are the application's and its
# main program's; those after LAUNCHER <launcher>, up to the next, that
# program's own (it shares the runtime, JAVA_VERSIONS and MODULE_PATH).
# Values are written as given: $APPDIR stays for the reference library to
# replace with the application's directory. ARGS and ENV take only what the
# reference library takes at start: an ENV name that is no variable name,
# a '$' form it does not know (write ${HOME}, not $HOME, and a literal $ as
# $$), an unterminated "${", a line break, each fails with the library's
# own reason, naming the keyword:
#
#   applauncher_add_application: ARGS entry "$HOME": unknown "$HOME" (a
#   variable is written ${HOME}) (write a literal $ as $$)
#
# The desktop keywords are the pack's options of the same names (see
# `applauncher-pack --help`): DESKTOP_ENTRY gives the program a menu entry,
# named by APP_ID (or one made from HOMEPAGE's host and the name); its
# Exec= line names PREFIX/bin/<program>, PREFIX being where the tree lies
# once installed (default /<dir>, as in a package made with the install
# prefix /). FILE_TYPES entries are "TYPE=GLOB[,GLOB...][:COMMENT]". VERSION
# (default the project's) dates nothing but AppStream's release. CONFIG
# <file> installs a ready configuration instead of generating one; it
# excludes every keyword the configurations and the desktop files are made
# from, and LAUNCHER.
#
# When the pack runs: when the project is configured if applauncher::pack
# is an imported target (find_package(applauncher)) and the runtime
# library's file name is known then (python, jvm, an imported library
# target or a path): a refusal then fails the configure, and the
# dependencies are known at once. Otherwise (inside applauncher's own build,
# where the pack is built with the project, or for a runtime library the
# project builds) when the project is built, by the target
# applauncher_<name>_parts (in ALL): a refusal then fails the build with the
# same message, and the Java versions' dependencies reach the packages when
# cpack runs (see applauncher_cpack_application).
#
# JAVA_VERSIONS (RUNTIME jvm only) states the Java feature versions the
# application runs on: N (N or later) or N-M, N at least 11. The JVM
# runtime library then takes only a JDK of those versions, and the
# package's runtime dependency becomes, instead of the JVM runtime
# library's own, the pack's for that range (on Debian default-jre-headless
# (>= 2:1.N) | javaN-runtime-headless for N, the JDK packages of N to M for N-M; on RPM java-headless of those
# versions, with or without the epoch).
#
# ENTRY_POINT (RUNTIME python) starts <module>:<function> as a console
# script does, the module found in MODULE_PATH (a directory of the
# installed tree, default share/<name>) before the runtime's own path.
# COMPILE_PYTHON <dir>... byte-compiles the Python files under those
# directories of the installed tree when it is installed (after every
# install rule of the project, so the files installed anywhere in it are
# there), with the pack's compile step: checked-hash caches recording the
# paths under PREFIX, so a read-only install never compiles at start and
# two installs give the same bytes.
#
# EXCLUDE_FROM_ALL keeps the component out of a plain `cmake --install`,
# as install(... EXCLUDE_FROM_ALL) does.
#
# For packaging, each call records, as global properties:
#
#   APPLAUNCHER_APPLICATIONS                   the names, in call order
#   APPLAUNCHER_APPLICATION_<name>_DESTINATION <dir>
#   APPLAUNCHER_APPLICATION_<name>_RUNTIME     RUNTIME as given
#   APPLAUNCHER_APPLICATION_<name>_LAUNCHERS   <name> and each LAUNCHER
#   APPLAUNCHER_APPLICATION_<name>_DEBIAN_DEPENDS
#   APPLAUNCHER_APPLICATION_<name>_RPM_REQUIRES
#                                              the runtime target's
#                                              APPLAUNCHER_DEBIAN_DEPENDS and
#                                              APPLAUNCHER_RPM_REQUIRES (empty
#                                              for a runtime given by path),
#                                              or the Java versions' (empty
#                                              until cpack runs when the pack
#                                              runs at build time)
#
#   applauncher_cpack_application(NAME <name>
#     [SUMMARY <line>]
#     [DESCRIPTION <text>])
#
# sets, in the caller's scope, the CPack variables that make application
# <name> a package of its own named <name>; call it before include(CPack).
# A variable the caller set already keeps its value; the dependency lists
# are appended to (each entry once):
#
#   CPACK_COMPONENTS_ALL                           <name> appended
#   CPACK_DEBIAN_<NAME>_PACKAGE_NAME               <name>, unless set
#   CPACK_DEBIAN_<NAME>_PACKAGE_SHLIBDEPS          ON unless set:
#                                                  dpkg-shlibdeps adds what
#                                                  the ELF files need
#   CPACK_DEBIAN_<NAME>_PACKAGE_DEPENDS            the runtime's Debian
#                                                  dependencies appended
#   CPACK_RPM_<name>_PACKAGE_NAME                  <name>, unless set
#   CPACK_RPM_<name>_PACKAGE_AUTOREQ               ON unless set: rpmbuild
#                                                  adds what the ELF files
#                                                  need
#   CPACK_RPM_<name>_PACKAGE_AUTOPROV              OFF unless set: the
#                                                  libraries under <dir>/lib
#                                                  are private
#   CPACK_RPM_<name>_PACKAGE_REQUIRES              the runtime's RPM
#                                                  requirements appended
#   CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION  the directories above
#                                                  <dir> appended: the package
#                                                  owns <dir>, not /opt
#   CPACK_DEBIAN_<NAME>_DESCRIPTION,
#   CPACK_RPM_<name>_PACKAGE_SUMMARY,
#   CPACK_RPM_<name>_PACKAGE_DESCRIPTION           from SUMMARY and
#                                                  DESCRIPTION, when given
#   CPACK_PROJECT_CONFIG_FILE                      only when the pack runs at
#                                                  build time with
#                                                  JAVA_VERSIONS: a file that
#                                                  includes the one set
#                                                  before, then appends the
#                                                  Java versions' dependencies
#                                                  when cpack runs
#
# (<NAME> is <name> in upper case.) The caller chooses the rest:
# CPACK_GENERATOR, CPACK_DEB_COMPONENT_INSTALL / CPACK_RPM_COMPONENT_INSTALL
# ON, CPACK_PACKAGING_INSTALL_PREFIX "/" (so that opt/<name> is
# /opt/<name>), the maintainer and the version.
include_guard(GLOBAL)

# What stands for an empty argument while the arguments are cut into the
# application's and each LAUNCHER's: a CMake list keeps no empty element at
# its ends, and cmake_parse_arguments() drops them.
set(_APPLAUNCHER_EMPTY "<applauncher:empty>")

# The keywords of applauncher_add_application(): those of the application
# (before the first LAUNCHER), and those a LAUNCHER takes.
set(_APPLAUNCHER_FLAGS EXCLUDE_FROM_ALL DESKTOP_ENTRY TERMINAL APPSTREAM)
set(_APPLAUNCHER_VALUES NAME RUNTIME CONFIG AUXLIB DESTINATION JAVA_VERSIONS ENTRY_POINT
  MODULE_PATH PREFIX DESKTOP_DESTINATION APP_ID VERSION SUMMARY DESCRIPTION HOMEPAGE LICENSE
  VENDOR DISPLAY_NAME COMMENT WM_CLASS)
set(_APPLAUNCHER_LISTS ARGS ENV ICONS FILE_TYPES CATEGORIES COMPILE_PYTHON)
set(_APPLAUNCHER_LAUNCHER_FLAGS DESKTOP_ENTRY TERMINAL)
set(_APPLAUNCHER_LAUNCHER_VALUES ENTRY_POINT DISPLAY_NAME COMMENT WM_CLASS)
set(_APPLAUNCHER_LAUNCHER_LISTS ARGS ENV FILE_TYPES CATEGORIES)
# Each keyword the pack takes, and its option.
set(_APPLAUNCHER_OPTION_ARGS --argument)
set(_APPLAUNCHER_OPTION_ENV --env)
set(_APPLAUNCHER_OPTION_ENTRY_POINT --entry-point)
set(_APPLAUNCHER_OPTION_DISPLAY_NAME --display-name)
set(_APPLAUNCHER_OPTION_COMMENT --comment)
set(_APPLAUNCHER_OPTION_WM_CLASS --wm-class)
set(_APPLAUNCHER_OPTION_FILE_TYPES --file-type)
set(_APPLAUNCHER_OPTION_DESKTOP_ENTRY --desktop-entry)
set(_APPLAUNCHER_OPTION_TERMINAL --terminal)
set(_APPLAUNCHER_OPTION_APPSTREAM --appstream)
set(_APPLAUNCHER_OPTION_JAVA_VERSIONS --java-versions)
set(_APPLAUNCHER_OPTION_MODULE_PATH --module-path)
set(_APPLAUNCHER_OPTION_APP_ID --app-id)
set(_APPLAUNCHER_OPTION_VERSION --app-version)
set(_APPLAUNCHER_OPTION_SUMMARY --summary)
set(_APPLAUNCHER_OPTION_DESCRIPTION --description)
set(_APPLAUNCHER_OPTION_HOMEPAGE --homepage)
set(_APPLAUNCHER_OPTION_LICENSE --license)
set(_APPLAUNCHER_OPTION_VENDOR --vendor)
set(_APPLAUNCHER_OPTION_ICONS --icon)

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

# Checks JAVA_VERSIONS `versions` ("N" or "N-M", 11 <= N <= M) for RUNTIME
# `runtime` (which must be jvm), failing naming the keyword. The packages'
# dependencies that stand for it are the pack's (applauncher-pack
# --cmake-parts writes them).
function(_applauncher_check_java_versions fn runtime versions)
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

# In the caller's variables <prefix>_<keyword> for each keyword after
# `prefix`, puts back the empty values that _APPLAUNCHER_EMPTY stood for.
# A macro, so that it changes the caller's variables.
macro(_applauncher_restore_empty prefix)
  foreach(_applauncher_keyword ${ARGN})
    if(DEFINED ${prefix}_${_applauncher_keyword})
      list(TRANSFORM ${prefix}_${_applauncher_keyword} REPLACE "^<applauncher:empty>$" "")
    endif()
  endforeach()
endmacro()

# Appends to the variable `text` the options-file word `option`=`value`
# (a backslash doubled, a line break as \n), made literal for
# file(GENERATE) when `generated` is true.
function(_applauncher_word text generated option value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  if(generated)
    _applauncher_literal(value "${value}")
  endif()
  if(option STREQUAL "")
    set(${text} "${${text}}${value}\n" PARENT_SCOPE)
  else()
    set(${text} "${${text}}${option}=${value}\n" PARENT_SCOPE)
  endif()
endfunction()

# Appends to the variable `text` the options for the keywords after
# `prefix` that the caller's <prefix>_<keyword> variables give: each list
# entry an option, a flag its option alone, CATEGORIES one option.
function(_applauncher_keyword_words text generated prefix)
  set(words "${${text}}")
  foreach(keyword IN LISTS ARGN)
    set(option "${_APPLAUNCHER_OPTION_${keyword}}")
    if(keyword STREQUAL "CATEGORIES")
      if(DEFINED ${prefix}_CATEGORIES)
        list(JOIN ${prefix}_CATEGORIES ";" categories)
        _applauncher_word(words "${generated}" --categories "${categories}")
      endif()
    elseif(keyword IN_LIST _APPLAUNCHER_FLAGS)
      if(${prefix}_${keyword})
        _applauncher_word(words "${generated}" "" "${option}")
      endif()
    elseif(DEFINED ${prefix}_${keyword})
      foreach(value IN LISTS ${prefix}_${keyword})
        _applauncher_word(words "${generated}" "${option}" "${value}")
      endforeach()
    endif()
  endforeach()
  set(${text} "${words}" PARENT_SCOPE)
endfunction()

# Checks a launcher's ARGS and ENV (in the caller's arg_ variables) as far
# as the configuration's form goes: one value per line, NAME=VALUE. `who`
# is "" for the application's, "LAUNCHER <name>: " for another. A macro,
# so that it reads the caller's variables.
macro(_applauncher_check_entries who)
  _applauncher_refuse_line_breaks("${who}ARGS" ${arg_ARGS})
  _applauncher_refuse_line_breaks("${who}ENV" ${arg_ENV})
  foreach(_applauncher_entry IN LISTS arg_ENV)
    if(NOT _applauncher_entry MATCHES "^[^=]+=")
      message(FATAL_ERROR "applauncher_add_application: ${who}ENV entry "
        "\"${_applauncher_entry}\" is not NAME=VALUE")
    endif()
  endforeach()
endmacro()

# Reads one LAUNCHER section, the words after LAUNCHER (its name, then its
# keywords; an empty argument as _APPLAUNCHER_EMPTY), failing naming the
# keyword at fault. Appends its options to the caller's variable
# `words_out` (made literal for file(GENERATE) when `generated` is true),
# and sets the caller's `desktop_out` when it asks for a desktop entry.
# `known` lists the launchers before it.
function(_applauncher_launcher_section words_out desktop_out known generated)
  set(fn applauncher_add_application)
  set(launcher "")
  set(words ${ARGN})
  if(words)
    list(GET words 0 launcher)
    list(REMOVE_AT words 0)
  endif()
  if(launcher STREQUAL "" OR launcher STREQUAL _APPLAUNCHER_EMPTY OR
     launcher IN_LIST _APPLAUNCHER_LAUNCHER_FLAGS OR
     launcher IN_LIST _APPLAUNCHER_LAUNCHER_VALUES OR
     launcher IN_LIST _APPLAUNCHER_LAUNCHER_LISTS)
    message(FATAL_ERROR "${fn}: LAUNCHER given without a name")
  endif()
  if(NOT launcher MATCHES "^[A-Za-z0-9][A-Za-z0-9._+-]*$")
    message(FATAL_ERROR "${fn}: LAUNCHER \"${launcher}\" is not a plain file name "
      "(letters, digits, '.', '_', '+', '-')")
  endif()
  if(launcher IN_LIST known)
    message(FATAL_ERROR "${fn}: LAUNCHER ${launcher} is given twice (or is NAME)")
  endif()
  cmake_parse_arguments(arg "${_APPLAUNCHER_LAUNCHER_FLAGS}"
    "${_APPLAUNCHER_LAUNCHER_VALUES}" "${_APPLAUNCHER_LAUNCHER_LISTS}" ${words})
  _applauncher_restore_empty(arg ${_APPLAUNCHER_LAUNCHER_VALUES} ${_APPLAUNCHER_LAUNCHER_LISTS})
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${fn}: LAUNCHER ${launcher}: unknown argument(s): "
      "${arg_UNPARSED_ARGUMENTS} (the application's keywords come before the first "
      "LAUNCHER)")
  endif()
  foreach(keyword IN LISTS arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${fn}: LAUNCHER ${launcher}: ${keyword} given without a value")
  endforeach()
  _applauncher_check_entries("LAUNCHER ${launcher}: ")
  if(arg_DESKTOP_ENTRY)
    set(${desktop_out} TRUE PARENT_SCOPE)
  endif()
  set(section "")
  _applauncher_word(section "${generated}" --launcher "${launcher}")
  _applauncher_keyword_words(section "${generated}" arg ${_APPLAUNCHER_LAUNCHER_FLAGS}
    ${_APPLAUNCHER_LAUNCHER_VALUES} ${_APPLAUNCHER_LAUNCHER_LISTS})
  set(${words_out} "${${words_out}}${section}" PARENT_SCOPE)
endfunction()

# Installs application NAME (see the top of this file).
function(applauncher_add_application)
  set(fn applauncher_add_application)
  # The arguments, an empty one as _APPLAUNCHER_EMPTY, and where each
  # LAUNCHER section starts.
  set(all "")
  set(starts "")
  set(i 0)
  while(i LESS ARGC)
    set(value "${ARGV${i}}")
    if(value STREQUAL "")
      set(value "${_APPLAUNCHER_EMPTY}")
    elseif(value STREQUAL "LAUNCHER")
      list(APPEND starts ${i})
    endif()
    list(APPEND all "${value}")
    math(EXPR i "${i} + 1")
  endwhile()
  list(APPEND starts ${ARGC})
  list(GET starts 0 main_length)
  list(SUBLIST all 0 ${main_length} main)
  cmake_parse_arguments(arg "${_APPLAUNCHER_FLAGS}" "${_APPLAUNCHER_VALUES}"
    "${_APPLAUNCHER_LISTS}" ${main})
  _applauncher_restore_empty(arg ${_APPLAUNCHER_VALUES} ${_APPLAUNCHER_LISTS})
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
  list(LENGTH starts sections)
  set(made_keywords ARGS ENV JAVA_VERSIONS ENTRY_POINT MODULE_PATH DESKTOP_ENTRY APPSTREAM
    APP_ID ICONS FILE_TYPES CATEGORIES DISPLAY_NAME COMMENT WM_CLASS TERMINAL)
  if(DEFINED arg_CONFIG)
    foreach(keyword IN LISTS made_keywords)
      if((keyword IN_LIST _APPLAUNCHER_FLAGS AND arg_${keyword}) OR
         (NOT keyword IN_LIST _APPLAUNCHER_FLAGS AND DEFINED arg_${keyword}))
        message(FATAL_ERROR "${fn}: CONFIG excludes ARGS, ENV and JAVA_VERSIONS (the "
          "configuration is either given or generated), and ${keyword}, LAUNCHER and the "
          "desktop keywords with them")
      endif()
    endforeach()
    if(sections GREATER 1)
      message(FATAL_ERROR "${fn}: CONFIG excludes LAUNCHER: each launcher's configuration "
        "is generated")
    endif()
  endif()
  if(DEFINED arg_JAVA_VERSIONS)
    _applauncher_check_java_versions(${fn} "${arg_RUNTIME}" "${arg_JAVA_VERSIONS}")
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
  set(prefix "/${destination}")
  if(destination STREQUAL ".")
    set(prefix "/")
  endif()
  if(DEFINED arg_PREFIX)
    if(NOT IS_ABSOLUTE "${arg_PREFIX}")
      message(FATAL_ERROR "${fn}: PREFIX ${arg_PREFIX} must be the absolute directory the "
        "application is at once installed")
    endif()
    set(prefix "${arg_PREFIX}")
  endif()
  set(desktop_destination "usr/share")
  if(DEFINED arg_DESKTOP_DESTINATION)
    set(desktop_destination "${arg_DESKTOP_DESTINATION}")
  endif()
  _applauncher_check_entries("")
  if(NOT TARGET applauncher::launcher)
    message(FATAL_ERROR "${fn}: applauncher::launcher is not defined; "
      "find_package(applauncher) first")
  endif()

  # The runtime library.
  set(runtime_target "")
  set(runtime_word "")
  if(arg_RUNTIME STREQUAL "python" OR arg_RUNTIME STREQUAL "jvm")
    set(runtime_target "applauncher::${arg_RUNTIME}_runtime")
    set(runtime_word "${arg_RUNTIME}")
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
    get_target_property(debian_depends ${runtime_target} APPLAUNCHER_DEBIAN_DEPENDS)
    get_target_property(rpm_requires ${runtime_target} APPLAUNCHER_RPM_REQUIRES)
    get_target_property(runtime_imported ${runtime_target} IMPORTED)
    if(runtime_word STREQUAL "" AND runtime_imported)
      get_target_property(runtime_location ${runtime_target} LOCATION)
      get_filename_component(runtime_word "${runtime_location}" NAME)
    endif()
  else()
    _applauncher_library_file(runtime_file RUNTIME "${arg_RUNTIME}")
    get_filename_component(runtime_word "${runtime_file}" NAME)
    if(runtime_word MATCHES "^(libapplauncher\\.so|applauncher(-.*)?\\.cfg)$")
      message(FATAL_ERROR "${fn}: RUNTIME ${arg_RUNTIME}: the file name ${runtime_word} "
        "is the auxiliary library's or a configuration's")
    endif()
    _applauncher_refuse_line_breaks(RUNTIME "${runtime_word}")
  endif()
  foreach(variable debian_depends rpm_requires)
    if(NOT ${variable})
      set(${variable} "")
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

  # Where applauncher-pack --cmake-parts writes the configurations and
  # desktop files: at configure time when the pack is installed and the
  # runtime library's file name is known now, else at build time.
  set(parts "${CMAKE_CURRENT_BINARY_DIR}/applauncher/${name}")
  set(parts_at_build FALSE)
  set(pack_command "")
  if(NOT DEFINED arg_CONFIG OR DEFINED arg_COMPILE_PYTHON)
    if(NOT TARGET applauncher::pack)
      message(FATAL_ERROR "${fn}: applauncher::pack is not defined; "
        "find_package(applauncher) first")
    endif()
    get_target_property(pack_imported applauncher::pack IMPORTED)
    if(pack_imported)
      get_target_property(pack_command applauncher::pack LOCATION)
    else()
      set(pack_command "$<TARGET_FILE:applauncher::pack>")
      set(parts_at_build TRUE)
    endif()
  endif()
  if(runtime_word STREQUAL "")
    set(parts_at_build TRUE)
  endif()
  set(generated "${parts_at_build}")

  # The launchers: the application's own, then each LAUNCHER section's.
  set(launchers "${name}")
  set(desktop "${arg_DESKTOP_ENTRY}")
  set(launcher_words "")
  math(EXPR last "${sections} - 2")
  if(last GREATER_EQUAL 0)
    foreach(section RANGE 0 ${last})
      list(GET starts ${section} first)
      math(EXPR next "${section} + 1")
      list(GET starts ${next} end)
      math(EXPR first "${first} + 1")
      math(EXPR length "${end} - ${first}")
      list(SUBLIST all ${first} ${length} words)
      _applauncher_launcher_section(launcher_words desktop "${launchers}" "${generated}"
        ${words})
      list(GET words 0 launcher)
      list(APPEND launchers "${launcher}")
    endforeach()
  endif()

  set(exclude "")
  if(arg_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  if(DEFINED arg_CONFIG)
    get_filename_component(config_file "${arg_CONFIG}" ABSOLUTE
      BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${config_file}" OR IS_DIRECTORY "${config_file}")
      message(FATAL_ERROR "${fn}: CONFIG ${arg_CONFIG} is not an existing file")
    endif()
    install(FILES "${config_file}" DESTINATION "${destination}/lib"
      RENAME applauncher.cfg COMPONENT "${name}" ${exclude})
  else()
    set(version "${PROJECT_VERSION}")
    if(DEFINED arg_VERSION)
      set(version "${arg_VERSION}")
    endif()
    set(icons "")
    foreach(icon IN LISTS arg_ICONS)
      get_filename_component(icon "${icon}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      list(APPEND icons "${icon}")
    endforeach()
    set(arg_ICONS "${icons}")
    set(options "")
    _applauncher_word(options "${generated}" --cmake-parts "${parts}")
    _applauncher_word(options "${generated}" --name "${name}")
    _applauncher_word(options "${generated}" --prefix "${prefix}")
    if(NOT version STREQUAL "")
      _applauncher_word(options "${generated}" --app-version "${version}")
    endif()
    if(runtime_word STREQUAL "")
      string(APPEND options "--runtime=$<TARGET_FILE_NAME:${runtime_target}>\n")
    else()
      _applauncher_word(options "${generated}" --runtime "${runtime_word}")
    endif()
    _applauncher_keyword_words(options "${generated}" arg JAVA_VERSIONS MODULE_PATH APP_ID
      ICONS APPSTREAM SUMMARY DESCRIPTION HOMEPAGE LICENSE VENDOR
      ${_APPLAUNCHER_LAUNCHER_FLAGS} ${_APPLAUNCHER_LAUNCHER_VALUES}
      ${_APPLAUNCHER_LAUNCHER_LISTS})
    string(APPEND options "${launcher_words}")
    if(parts_at_build)
      file(GENERATE OUTPUT "${parts}.options" CONTENT "${options}")
      add_custom_command(OUTPUT "${parts}.made"
        COMMAND applauncher::pack "--options-file=${parts}.options"
        COMMAND "${CMAKE_COMMAND}" -E touch "${parts}.made"
        DEPENDS "${parts}.options" ${icons}
        COMMENT "applauncher-pack: the configurations and desktop files of ${name}"
        VERBATIM)
      add_custom_target(applauncher_${name}_parts ALL DEPENDS "${parts}.made")
    else()
      file(WRITE "${parts}.options" "${options}")
      execute_process(COMMAND "${pack_command}" "--options-file=${parts}.options"
        RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE problem)
      if(NOT status EQUAL 0)
        string(STRIP "${problem}" problem)
        message(FATAL_ERROR "${problem}\n(${fn}: ${pack_command} ended with ${status})")
      endif()
      include("${parts}/application.cmake")
      if(DEFINED arg_JAVA_VERSIONS)
        set(debian_depends "${applauncher_pack_debian_depends}")
        set(rpm_requires "${applauncher_pack_rpm_requires}")
      endif()
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${icons})
    endif()
    if(parts_at_build AND DEFINED arg_JAVA_VERSIONS)
      set(debian_depends "")
      set(rpm_requires "")
    endif()
    install(DIRECTORY "${parts}/lib/" DESTINATION "${destination}/lib"
      COMPONENT "${name}" ${exclude})
    if(desktop)
      install(DIRECTORY "${parts}/share/" DESTINATION "${desktop_destination}"
        COMPONENT "${name}" ${exclude})
    endif()
  endif()

  foreach(launcher IN LISTS launchers)
    install(PROGRAMS "$<TARGET_FILE:applauncher::launcher>" DESTINATION "${destination}/bin"
      RENAME "${launcher}" COMPONENT "${name}" ${exclude})
  endforeach()
  install(FILES "${auxlib_file}" DESTINATION "${destination}/lib"
    RENAME libapplauncher.so COMPONENT "${name}" ${exclude})
  install(FILES "${runtime_file}" DESTINATION "${destination}/lib"
    COMPONENT "${name}" ${exclude})

  # The Python files, byte-compiled once every rule of the project has
  # installed them: at the end of the top directory's rules.
  if(DEFINED arg_COMPILE_PYTHON)
    if(NOT arg_RUNTIME STREQUAL "python")
      message(FATAL_ERROR "${fn}: COMPILE_PYTHON is for RUNTIME python, not ${arg_RUNTIME}")
    endif()
    set(compile "")
    foreach(directory IN LISTS arg_COMPILE_PYTHON)
      if(directory MATCHES "[\r\n]")
        message(FATAL_ERROR "${fn}: COMPILE_PYTHON entry \"${directory}\" holds a line break")
      endif()
      string(APPEND compile " [==[--compile-python=${directory}]==]")
    endforeach()
    set(code "execute_process(COMMAND [==[${pack_command}]==]${compile}
      [==[--prefix=${prefix}]==] \"--tree=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}\"
      RESULT_VARIABLE applauncher_status ERROR_VARIABLE applauncher_problem)
    if(NOT applauncher_status EQUAL 0)
      message(FATAL_ERROR \"\${applauncher_problem}\")
    endif()")
    set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_COMPILE_CODE "${code}")
    cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [==[${CMAKE_SOURCE_DIR}]==]
      CALL _applauncher_compile_at_install [==[${name}]==] ${exclude})")
  endif()

  set_property(GLOBAL APPEND PROPERTY APPLAUNCHER_APPLICATIONS "${name}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DESTINATION "${destination}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_RUNTIME "${arg_RUNTIME}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_LAUNCHERS "${launchers}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DEBIAN_DEPENDS
    "${debian_depends}")
  set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_RPM_REQUIRES "${rpm_requires}")
  if(parts_at_build AND DEFINED arg_JAVA_VERSIONS)
    set_property(GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_DEPENDENCIES_AT_CPACK
      "${parts}/application.cmake")
  endif()
endfunction()

# Installs, as part of component `name` (EXCLUDE_FROM_ALL after it when
# given), the byte-compiling of application `name`'s Python files that
# applauncher_add_application() recorded. Deferred to the end of the top
# directory, so that it runs after every install rule of the project.
function(_applauncher_compile_at_install name)
  get_property(code GLOBAL PROPERTY APPLAUNCHER_APPLICATION_${name}_COMPILE_CODE)
  install(CODE "${code}" COMPONENT "${name}" ${ARGN})
endfunction()

# Appends `entries` (a comma-separated dependency list) to the caller's
# variable `variable`: set to it when the caller left it unset or empty,
# else followed by ", " and each entry it does not hold yet.
function(_applauncher_append_dependencies variable entries)
  if(entries STREQUAL "")
    return()
  endif()
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    set(${variable} "${entries}" PARENT_SCOPE)
    return()
  endif()
  set(value "${${variable}}")
  string(REPLACE "," ";" held "${value}")
  list(TRANSFORM held STRIP)
  string(REPLACE "," ";" added "${entries}")
  foreach(entry IN LISTS added)
    string(STRIP "${entry}" entry)
    if(NOT entry IN_LIST held)
      string(APPEND value ", ${entry}")
    endif()
  endforeach()
  set(${variable} "${value}" PARENT_SCOPE)
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
  get_property(at_cpack GLOBAL PROPERTY
    APPLAUNCHER_APPLICATION_${name}_DEPENDENCIES_AT_CPACK)
  string(TOUPPER "${name}" upper)

  set(components ${CPACK_COMPONENTS_ALL} ${name})
  list(REMOVE_DUPLICATES components)
  set(CPACK_COMPONENTS_ALL ${components} PARENT_SCOPE)
  # What the caller set already stays: names and switches as they are,
  # dependencies appended to.
  foreach(variable CPACK_DEBIAN_${upper}_PACKAGE_NAME CPACK_RPM_${name}_PACKAGE_NAME)
    if(NOT DEFINED ${variable})
      set(${variable} "${name}" PARENT_SCOPE)
    endif()
  endforeach()
  foreach(setting CPACK_DEBIAN_${upper}_PACKAGE_SHLIBDEPS=ON
                  CPACK_RPM_${name}_PACKAGE_AUTOREQ=ON CPACK_RPM_${name}_PACKAGE_AUTOPROV=OFF)
    string(REGEX MATCH "^[^=]*" variable "${setting}")
    string(REGEX REPLACE "^[^=]*=" "" value "${setting}")
    if(NOT DEFINED ${variable})
      set(${variable} ${value} PARENT_SCOPE)
    endif()
  endforeach()
  set(debian_variable CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS)
  set(rpm_variable CPACK_RPM_${name}_PACKAGE_REQUIRES)
  _applauncher_append_dependencies(${debian_variable} "${debian_depends}")
  _applauncher_append_dependencies(${rpm_variable} "${rpm_requires}")
  if(DEFINED ${debian_variable})
    set(${debian_variable} "${${debian_variable}}" PARENT_SCOPE)
  endif()
  if(DEFINED ${rpm_variable})
    set(${rpm_variable} "${${rpm_variable}}" PARENT_SCOPE)
  endif()

  # Dependencies the pack writes at build time (inside applauncher's own
  # build): appended when cpack runs, by a project configuration file that
  # first includes the caller's own.
  if(at_cpack)
    set(script "${CMAKE_BINARY_DIR}/applauncher/cpack-dependencies.cmake")
    get_property(lines GLOBAL PROPERTY _APPLAUNCHER_CPACK_LINES)
    if(DEFINED CPACK_PROJECT_CONFIG_FILE AND NOT CPACK_PROJECT_CONFIG_FILE STREQUAL script)
      string(APPEND lines "include([==[${CPACK_PROJECT_CONFIG_FILE}]==])\n")
    endif()
    string(APPEND lines "include([==[${at_cpack}]==])\n"
      "_applauncher_append_dependencies(${debian_variable} \"\${applauncher_pack_debian_depends}\")\n"
      "_applauncher_append_dependencies(${rpm_variable} \"\${applauncher_pack_rpm_requires}\")\n")
    set_property(GLOBAL PROPERTY _APPLAUNCHER_CPACK_LINES "${lines}")
    file(WRITE "${script}" "# Written by applauncher_cpack_application().\n"
      "cmake_policy(VERSION 3.20)\n"
      "include([==[${CMAKE_CURRENT_FUNCTION_LIST_FILE}]==])\n${lines}")
    set(CPACK_PROJECT_CONFIG_FILE "${script}" PARENT_SCOPE)
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
