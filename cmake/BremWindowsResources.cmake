# brem_windows_resources(TARGET DESCRIPTION): the .exe's icon and the version information that
# Explorer shows. Nothing elsewhere.
function(brem_windows_resources target description)
    if(NOT WIN32)
        return()
    endif()
    set(BREM_NAME ${target})
    set(BREM_DESCRIPTION ${description})
    set(BREM_ICON ${PROJECT_SOURCE_DIR}/app/brem.ico)
    configure_file(${PROJECT_SOURCE_DIR}/app/brem.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc
        @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
