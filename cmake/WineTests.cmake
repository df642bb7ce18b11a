# Windows test programs run under wine64 in a private prefix of this build
# tree. One fixture creates the prefix on first use and keeps the Wine server
# warm; its cleanup stops the server so no process outlives the run.
set(KEEPSAKE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KEEPSAKE_WINE_ENV
    "WINEPREFIX=${KEEPSAKE_WINEPREFIX}"
    "WINEDEBUG=-all")

if(KEEPSAKE_RUN_WINE_TESTS)
add_test(NAME wine_session_start
         COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine-session.sh start ${KEEPSAKE_WINEPREFIX})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180
                     ENVIRONMENT "${KEEPSAKE_WINE_ENV}")
add_test(NAME wine_session_stop
         COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine-session.sh stop ${KEEPSAKE_WINEPREFIX})
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60
                     ENVIRONMENT "${KEEPSAKE_WINE_ENV}")
endif()

# keepsake_wine_test(<name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <seconds>])
# A GoogleTest program linked with the test-support library, run under Wine.
function(keepsake_wine_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE kstest gtest_main ${ARG_LIBS})
    if(NOT KEEPSAKE_RUN_WINE_TESTS)
        return()
    endif()
    add_test(NAME ${name}
             COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:${name}>
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "${KEEPSAKE_WINE_ENV}")
endfunction()
