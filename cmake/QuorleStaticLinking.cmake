# quorle_require_static_libraries(<program> <target>...): stops the configuration with a
# message naming every dependency of <program> that would not be linked into it.
#
# The driver setup program resolves its imports from System32 only (/DEPENDENTLOADFLAG), so
# a DLL beside it (cubeb.dll, libcrypto-3-x64.dll of vcpkg's dynamic triplets) is never
# loaded and the program cannot start. The triplet's name proves nothing (x64-windows-static-md
# keeps the C runtime DLLs); what counts is what each imported target is:
#   STATIC_LIBRARY, OBJECT_LIBRARY, INTERFACE_LIBRARY  linked in (interface: header-only)
#   SHARED_LIBRARY, MODULE_LIBRARY                     a DLL: refused
#   UNKNOWN_LIBRARY (FindOpenSSL makes these)          judged by its file: refused when it
#                                                      names an import library (IMPORTED_IMPLIB,
#                                                      or an archive whose symbol table defines
#                                                      __imp_ symbols) or a .dll
# A static library whose objects ask for the C runtime DLL (x64-windows-static-md) is
# refused too: the program would need the Visual C++ runtime DLLs beside it.
# Every target and library file a checked target links in turn is checked the same way.
# Plain library names (ole32, ws2_32, crypt32) are system import libraries and accepted.

# Sets <out> to TRUE when <file> is an archive whose symbol table (its first member, "/")
# defines import symbols: an import library, whether made by lib.exe, llvm-dlltool or
# GNU dlltool. A static library only references such symbols; its symbol table lists only
# what its members define.
function(_quorle_is_import_library file out)
    set(${out} FALSE PARENT_SCOPE)
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        return()
    endif()
    file(READ "${file}" magic LIMIT 8 HEX)
    if(NOT magic STREQUAL "213c617263683e0a")  # "!<arch>\n"
        return()
    endif()
    file(READ "${file}" header OFFSET 8 LIMIT 60)
    string(SUBSTRING "${header}" 0 16 name)
    string(SUBSTRING "${header}" 48 10 size)
    string(STRIP "${name}" name)
    string(STRIP "${size}" size)
    if(NOT name MATCHES "^/(SYM64/)?$" OR NOT size MATCHES "^[0-9]+$")
        return()
    endif()
    math(EXPR end "68 + ${size}")
    file(STRINGS "${file}" imports LIMIT_INPUT ${end} LIMIT_COUNT 1
         REGEX "__imp_|__IMPORT_DESCRIPTOR_")
    if(imports)
        set(${out} TRUE PARENT_SCOPE)
    endif()
endfunction()

# Sets <out> to why the library file <file> is not linked in as this program needs it, or
# to "" when it is. <static> is TRUE when the file is known to be a static library.
function(_quorle_library_file_problem file static out)
    set(${out} "" PARENT_SCOPE)
    if(NOT static)
        if(file MATCHES "\\.[dD][lL][lL]$")
            set(${out} "${file} is a DLL" PARENT_SCOPE)
            return()
        endif()
        _quorle_is_import_library("${file}" import)
        if(import)
            set(${out} "${file} is the import library of a DLL" PARENT_SCOPE)
            return()
        endif()
    endif()
    # A static library compiled for the C runtime DLL (/MD: its objects ask the linker for
    # msvcrt) is linked in, but the program then needs the Visual C++ runtime DLLs, which
    # are not part of System32 (and the link with the static runtime fails, LNK2038).
    if(EXISTS "${file}" AND NOT IS_DIRECTORY "${file}")
        file(STRINGS "${file}" dynamic_runtime LIMIT_COUNT 1
             REGEX "[-/][Dd][Ee][Ff][Aa][Uu][Ll][Tt][Ll][Ii][Bb]:\"?[Mm][Ss][Vv][Cc][Rr][Tt]")
        if(dynamic_runtime)
            set(${out} "${file} is built for the C runtime DLL (/MD)" PARENT_SCOPE)
        endif()
    endif()
endfunction()

function(quorle_require_static_libraries program)
    set(problems)
    set(seen)
    set(queue ${ARGN})
    while(queue)
        list(POP_FRONT queue item)
        # Link items of exported static libraries come wrapped: $<LINK_ONLY:x>, and
        # configuration-dependent ones as $<$<CONFIG:Debug>:x>. Every configuration counts.
        # (Tested one at a time: if() evaluates both sides of an OR, and the failed match
        # would clear CMAKE_MATCH_1.)
        set(unwrapping TRUE)
        while(unwrapping)
            set(unwrapping FALSE)
            foreach(wrapper "^\\$<LINK_ONLY:(.*)>$" "^\\$<\\$<[^>]*>:(.*)>$")
                if(item MATCHES "${wrapper}")
                    set(item "${CMAKE_MATCH_1}")
                    set(unwrapping TRUE)
                endif()
            endforeach()
        endwhile()
        if(item STREQUAL "" OR item IN_LIST seen OR item MATCHES "^\\$<")
            continue()
        endif()
        list(APPEND seen "${item}")

        if(TARGET "${item}")
            get_target_property(aliased "${item}" ALIASED_TARGET)
            set(name "${item}")
            if(aliased)
                set(item "${aliased}")
            endif()
            get_target_property(type "${item}" TYPE)
            if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
                list(APPEND problems "${name} is a ${type} (a DLL)")
            elseif(type MATCHES "^(UNKNOWN_LIBRARY|STATIC_LIBRARY)$")
                set(static FALSE)
                if(type STREQUAL "STATIC_LIBRARY")
                    set(static TRUE)
                endif()
                get_target_property(configurations "${item}" IMPORTED_CONFIGURATIONS)
                set(suffixes "")
                if(configurations)
                    foreach(configuration IN LISTS configurations)
                        string(TOUPPER "_${configuration}" suffix)
                        list(APPEND suffixes "${suffix}")
                    endforeach()
                endif()
                foreach(suffix "" ${suffixes})
                    get_target_property(implib "${item}" IMPORTED_IMPLIB${suffix})
                    if(implib AND NOT static)
                        list(APPEND problems "${name}: ${implib} is the import library of a DLL")
                    endif()
                    get_target_property(location "${item}" IMPORTED_LOCATION${suffix})
                    if(location)
                        _quorle_library_file_problem("${location}" ${static} problem)
                        if(problem)
                            list(APPEND problems "${name}: ${problem}")
                        endif()
                    endif()
                endforeach()
            elseif(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|INTERFACE_LIBRARY)$")
                list(APPEND problems "${name} is a ${type}, not a library")
            endif()
            get_target_property(links "${item}" INTERFACE_LINK_LIBRARIES)
            if(links)
                list(APPEND queue ${links})
            endif()
        elseif(IS_ABSOLUTE "${item}")
            _quorle_library_file_problem("${item}" FALSE problem)
            if(problem)
                list(APPEND problems "${problem}")
            endif()
        endif()
    endwhile()

    if(problems)
        list(REMOVE_DUPLICATES problems)
        list(JOIN problems "\n  " text)
        message(FATAL_ERROR
            "quorle: ${program} loads DLLs from System32 only, so every dependency must be "
            "linked into it, but:\n  ${text}\n"
            "Use a static vcpkg triplet (x64-windows-static, arm64-windows-static).")
    endif()
endfunction()
