# vorlix_gtest(NAME SOURCES... LIBS... [LABELS...] [ENV...]): a GoogleTest executable for plain logic;
# vorlix_qtest(...) the same with Qt Test, for widgets. Both run offscreen and register with CTest.
# MOC_AS names the .moc file that a Qt Test source still includes under its former name.
function(vorlix_test name framework)
    cmake_parse_arguments(T "" "MOC_AS" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${framework} ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    if(T_MOC_AS)
        list(GET T_SOURCES 0 source)
        set_source_files_properties(${source} PROPERTIES SKIP_AUTOMOC ON)
        qt_generate_moc(${source} ${CMAKE_CURRENT_BINARY_DIR}/${T_MOC_AS} TARGET ${name})
        set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${T_MOC_AS} PROPERTIES HEADER_FILE_ONLY ON)
        target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${T_MOC_AS})
        target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=disabled:;${T_ENV}")
endfunction()

function(vorlix_gtest name)
    vorlix_test(${name} "GTest::gtest;GTest::gtest_main" ${ARGN})
endfunction()

function(vorlix_qtest name)
    vorlix_test(${name} Qt6::Test ${ARGN})
endfunction()
