# Tests of the Windows build run under Wine, beside the Linux programs of a Linux build of the
# same tree (brem-sim, the pty helpers, e2e_tests): BREM_HOST_BUILD_DIR.
set(BREM_HOST_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/dev" CACHE PATH
    "A Linux build of this tree, for the programs that play the device")
set(BREM_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(BREM_PTYUART ${BREM_HOST_BUILD_DIR}/tests/wine/libbrem_ptyuart.so)
set(BREM_PTYHOST ${BREM_HOST_BUILD_DIR}/tests/wine/ptyhost)
# Programs built against Qt find its DLLs, its plugins and MinGW's runtime where they are.
set(BREM_WINE_ENV "")
if(BREM_QT_WINDOWS)
    set(BREM_WINE_ENV "export WINEPATH='Z:${BREM_QT_WINDOWS}/bin;Z:${BREM_MINGW_GCC_DLLS};Z:/usr/x86_64-w64-mingw32/lib' QT_PLUGIN_PATH='Z:${BREM_QT_WINDOWS}/plugins'")
endif()
configure_file(${CMAKE_SOURCE_DIR}/tests/wine/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE @ONLY)
set(BREM_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)

# Every test here needs the prefix; the first one makes it, the last one stops its server.
add_test(NAME wine.setup COMMAND ${BREM_WINE_RUN} --setup)
set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
add_test(NAME wine.cleanup COMMAND ${BREM_WINE_RUN} --stop)
set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# brem_wine_test(NAME TARGET [PTYHOST] [LABELS ...] [TIMEOUT s]): runs TARGET under Wine; with
# PTYHOST, beside the helper that plays the device end of its COM ports.
function(brem_wine_test name target)
    cmake_parse_arguments(ARG "PTYHOST" "TIMEOUT" "LABELS" ${ARGN})
    set(command ${BREM_WINE_RUN} $<TARGET_FILE:${target}>)
    if(ARG_PTYHOST)
        set(command ${BREM_PTYHOST} --com-dir ${BREM_WINE_DIR}/com -- ${command})
    endif()
    add_test(NAME ${name} COMMAND ${command})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine LABELS "wine;${ARG_LABELS}"
        TIMEOUT ${ARG_TIMEOUT} RESOURCE_LOCK wine_com)
endfunction()
