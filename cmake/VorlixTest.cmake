# vorlix_gtest(NAME SOURCES... LIBS... [LABELS...] [ENV...]): a GoogleTest executable for plain logic;
# vorlix_qtest(...) the same with Qt Test, for widgets. Both run offscreen and register with CTest.
function(vorlix_test name framework)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${framework} ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=disabled:;${T_ENV}")
endfunction()

function(vorlix_gtest name)
    vorlix_test(${name} "GTest::gtest;GTest::gtest_main" ${ARGN})
endfunction()

function(vorlix_qtest name)
    vorlix_test(${name} Qt6::Test ${ARGN})
endfunction()
