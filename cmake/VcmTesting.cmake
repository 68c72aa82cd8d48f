# vcm_add_test(<name> SOURCES <files...> LIBS <targets...> [WIDGETS] [TIMEOUT <s>]
#               [LAUNCHER <command...>])
# One QtTest program per class or rule. WIDGETS runs it on the offscreen platform; LAUNCHER
# runs it through a command (e.g. xvfb-run for a real X server).
function(vcm_add_test name)
    cmake_parse_arguments(T "WIDGETS" "TIMEOUT" "SOURCES;LIBS;LAUNCHER" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    add_test(NAME ${name} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${name}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set(env "QT_QPA_PLATFORM=offscreen")
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
