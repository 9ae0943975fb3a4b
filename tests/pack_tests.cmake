# applauncher-pack: its Java parts as unit tests, the RPM requirement on
# the system's Java judged by the real rpm, and Java applications packed
# by the built command, started from a bundled runtime with the system's
# JDKs hidden (pack_java_test.sh).
add_library(pack_java_parts STATIC ${PROJECT_SOURCE_DIR}/pack/java_runtime.cpp
  ${PROJECT_SOURCE_DIR}/pack/run_command.cpp ${PROJECT_SOURCE_DIR}/pack/pack_files.cpp
  ${PROJECT_SOURCE_DIR}/pack/app_config.cpp ${PROJECT_SOURCE_DIR}/pack/options.cpp)
target_include_directories(pack_java_parts PUBLIC ${PROJECT_SOURCE_DIR}/pack)
target_link_libraries(pack_java_parts PUBLIC launch_data)

applauncher_gtest(pack_java_unit_test LABELS unit SOURCES pack_java_unit_test.cpp
  LINK pack_java_parts)
applauncher_gtest(pack_java_rpm_test LABELS packaging SOURCES pack_java_rpm_test.cpp
  LINK pack_java_parts TIMEOUT 300)

if(TARGET hux_jvm)
  applauncher_script_test(pack_java_test LABELS packaging TIMEOUT 1500 SKIPPABLE
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pack_java_test.sh $<TARGET_FILE:applauncher_pack>
            $<TARGET_FILE:applauncher> $<TARGET_FILE:applauncher_aux> $<TARGET_FILE:hux_jvm>)
endif()
