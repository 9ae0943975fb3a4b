# The launcher with the reference library and the JVM runtime library on a
# real JDK (Debian: openjdk-17-jdk-headless), running the Java programs of
# java/ compiled here; and the VM search as a unit test on the library's own
# sources. The same JDK runs the programs through the launcher (JAVA_HOME)
# and under its own java command, the baseline.
if(NOT TARGET hux_jvm)
  message(STATUS "JVM runtime library not built: jvm_runtime_test skipped")
  return()
endif()
find_package(Java 11 COMPONENTS Development)
if(NOT Java_FOUND)
  message(STATUS "javac not found (Debian: openjdk-17-jdk-headless): jvm_runtime_test skipped")
  return()
endif()
include(UseJava)
file(REAL_PATH "${Java_JAVAC_EXECUTABLE}" jvm_test_javac)
get_filename_component(jvm_test_java_home "${jvm_test_javac}" DIRECTORY)
get_filename_component(jvm_test_java_home "${jvm_test_java_home}" DIRECTORY)
if(NOT EXISTS "${jvm_test_java_home}/bin/java" OR
   NOT EXISTS "${jvm_test_java_home}/lib/server/libjvm.so")
  message(STATUS "no java and libjvm.so beside ${jvm_test_javac}: jvm_runtime_test skipped")
  return()
endif()

set(CMAKE_JAVA_COMPILE_FLAGS --release 11)
add_jar(jvm_test_probe SOURCES java/probe/Probe.java java/nomain/NoMain.java
  OUTPUT_NAME probe)
add_jar(jvm_test_dep SOURCES java/jardep/Dep.java OUTPUT_NAME dep)
add_jar(jvm_test_app SOURCES java/jarapp/Main.java INCLUDE_JARS jvm_test_dep
  MANIFEST java/jarapp/manifest.txt OUTPUT_NAME app)
add_jar(jvm_test_agent_app SOURCES java/agentjar/Main.java java/agentjar/Agent.java
  MANIFEST java/agentjar/manifest.txt OUTPUT_NAME agentapp)

# A JDK of Java 19 or later under /usr/lib/jvm (found by its release
# file), which the tests of the VM's own archive use when there is one.
set(jvm_test_other_java_home "")
file(GLOB jvm_test_homes LIST_DIRECTORIES true /usr/lib/jvm/*)
foreach(home IN LISTS jvm_test_homes)
  if(NOT jvm_test_other_java_home AND NOT IS_SYMLINK "${home}" AND
     EXISTS "${home}/release" AND EXISTS "${home}/lib/server/libjvm.so")
    file(STRINGS "${home}/release" version REGEX "^JAVA_VERSION=\"[0-9]+")
    string(REGEX REPLACE "^JAVA_VERSION=\"([0-9]+).*" "\\1" major "${version}")
    if(major MATCHES "^[0-9]+$" AND major GREATER_EQUAL 19)
      set(jvm_test_other_java_home "${home}")
    endif()
  endif()
endforeach()

set(jvm_test_definitions
  REFERENCE_AUX_LIBRARY="$<TARGET_FILE:applauncher_aux>"
  JVM_RUNTIME_LIBRARY="$<TARGET_FILE:hux_jvm>"
  JVM_TEST_JAVA_HOME="${jvm_test_java_home}"
  JVM_TEST_OTHER_JAVA_HOME="${jvm_test_other_java_home}"
  PROBE_JAR="$<TARGET_PROPERTY:jvm_test_probe,JAR_FILE>"
  DEP_JAR="$<TARGET_PROPERTY:jvm_test_dep,JAR_FILE>"
  APP_JAR="$<TARGET_PROPERTY:jvm_test_app,JAR_FILE>"
  AGENT_APP_JAR="$<TARGET_PROPERTY:jvm_test_agent_app,JAR_FILE>")
set(jvm_test_needs applauncher_aux hux_jvm jvm_test_probe jvm_test_dep jvm_test_app
  jvm_test_agent_app)

applauncher_gtest(jvm_runtime_test LABELS runtime SOURCES jvm_runtime_test.cpp
  LINK hux_runtime_common applauncher_interface launch_harness ${CMAKE_DL_LIBS}
  NEEDS ${jvm_test_needs} DEFINES ${jvm_test_definitions})
target_include_directories(jvm_runtime_test PRIVATE ${PROJECT_SOURCE_DIR}/runtimes/jvm
  $<TARGET_PROPERTY:hux_jvm,INCLUDE_DIRECTORIES>)

# The class data archives of the JVM runtime library in each state a
# user's cache can hold them, on the real JDK.
applauncher_gtest(jvm_archive_test LABELS runtime SOURCES jvm_archive_test.cpp
  LINK launch_harness NEEDS ${jvm_test_needs} DEFINES ${jvm_test_definitions})

# The library's HUX_Check in a process of its own, and applauncher-doctor
# and the launcher on the same JVM applications: each refusal of the
# launch is the doctor's too, and a healthy one starts.
applauncher_gtest(jvm_doctor_test LABELS runtime SOURCES jvm_doctor_test.cpp
  LINK launch_harness applauncher_interface ${CMAKE_DL_LIBS} NEEDS ${jvm_test_needs} applauncher_doctor test_data_entry
  DEFINES ${jvm_test_definitions} DOCTOR_BINARY="$<TARGET_FILE:applauncher_doctor>"
          DATA_ENTRY_LIBRARY="$<TARGET_FILE:test_data_entry>")

# The same with every launcher run under valgrind: the runs that stop before
# a VM starts are checked; those that start one skip, saying why.
applauncher_valgrind_test(jvm_runtime_test)
