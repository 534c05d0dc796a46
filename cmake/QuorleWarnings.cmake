# quorle_warnings: the warning set every target of the project compiles with.
add_library(quorle_warnings INTERFACE)
if(MSVC)
    # C4324 (structure padded due to an alignment specifier) is off: the padding is the
    # point where members are aligned to cache lines (the capture ring's indices), and it
    # fires again for every standard-library wrapper of such a structure (make_shared).
    target_compile_options(quorle_warnings INTERFACE /W4 /permissive- /utf-8 /wd4324)
    if(QUORLE_WARNINGS_AS_ERRORS)
        target_compile_options(quorle_warnings INTERFACE /WX)
    endif()
else()
    target_compile_options(quorle_warnings INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
        -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Wnull-dereference
        -Wimplicit-fallthrough)
    if(QUORLE_WARNINGS_AS_ERRORS)
        target_compile_options(quorle_warnings INTERFACE -Werror)
    endif()
endif()

# Sample arithmetic must be evaluated exactly as written: never contracted into FMA,
# never reassociated. Applied to the whole project so no target can forget it.
if(NOT MSVC)
    add_compile_options(-ffp-contract=off -fno-fast-math)
else()
    # /guard:cf: every function whose address is taken is listed for control-flow guard,
    # which the programs' link turns on (QuorleApplicationManifest.cmake).
    add_compile_options(/fp:precise /guard:cf)
endif()
