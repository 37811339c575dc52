# Per-target warnings and Qt hygiene; every target of ours calls brem_target_defaults().
function(brem_target_defaults target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wformat-security)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wsuggest-override)
    endif()
    target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS QT_NO_CONTEXTLESS_CONNECT QT_NO_FOREACH)
endfunction()
