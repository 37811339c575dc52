# Per-target warnings, Qt hygiene and hardening; every target of ours calls brem_target_defaults().
function(brem_target_defaults target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wformat-security)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wsuggest-override)
    endif()
    target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS QT_NO_CONTEXTLESS_CONNECT QT_NO_FOREACH)
    brem_target_hardening(${target})
endfunction()

# What Debian's build flags give a shipped program: fortified libc calls and a read-only GOT.
# Only where it is optimized (the fortified calls need it) and neither sanitized nor fuzzed.
function(brem_target_hardening target)
    if(WIN32 OR BREM_SANITIZE OR BREM_FUZZ)
        return()
    endif()
    target_compile_definitions(${target}
        PRIVATE $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    target_link_options(${target} PRIVATE LINKER:-z,relro,-z,now)
endfunction()
