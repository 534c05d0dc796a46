# The static-linking check against stand-in imported targets of every kind, over real
# library files: static libraries and import libraries in the format lib.exe writes
# (made with llvm-lib and llvm-dlltool) and in the GNU format (mingw-w64 ar and dlltool).
#   cmake -DQUORLE_SOURCE_DIR=... -DWORK=... -DCLANG=... -DLLVM_LIB=... -DLLVM_DLLTOOL=...
#         -DMINGW_GCC=...
#         -DMINGW_AR=... -DMINGW_DLLTOOL=... -P static_linking_test.cmake
foreach(tool CLANG LLVM_LIB LLVM_DLLTOOL MINGW_GCC MINGW_AR MINGW_DLLTOOL)
    if(NOT ${tool} OR NOT EXISTS "${${tool}}")
        message(FATAL_ERROR "tool ${tool} not found ('${${tool}}')")
    endif()
endforeach()

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                    ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
    endif()
endfunction()

# The stand-in library: one function that calls a DLL import, so that its object references
# an __imp_ symbol without defining it (as every static library that calls Windows does).
set(libs ${WORK}/libs)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${libs})
file(WRITE ${libs}/stand_in.c
    "__declspec(dllimport) unsigned long __stdcall GetTickCount(void);\n"
    "int quorle_stand_in(void) { return (int)GetTickCount(); }\n")
file(WRITE ${libs}/stand_in.def "LIBRARY stand_in.dll\nEXPORTS\nquorle_stand_in\n")
file(WRITE ${libs}/stand_in.dll "")
run(${CLANG} --target=x86_64-pc-windows-msvc -fms-runtime-lib=static -c ${libs}/stand_in.c
    -o ${libs}/ms.obj)
run(${LLVM_LIB} /machine:x64 /out:${libs}/ms_static.lib ${libs}/ms.obj)
run(${LLVM_DLLTOOL} -m i386:x86-64 -d ${libs}/stand_in.def -l ${libs}/ms_import.lib)
# The same library compiled for the C runtime DLL (/MD), as x64-windows-static-md builds it.
run(${CLANG} --target=x86_64-pc-windows-msvc -fms-runtime-lib=dll -c ${libs}/stand_in.c
    -o ${libs}/ms_md.obj)
run(${LLVM_LIB} /machine:x64 /out:${libs}/ms_static_md.lib ${libs}/ms_md.obj)
run(${MINGW_GCC} -c ${libs}/stand_in.c -o ${libs}/gnu.o)
run(${MINGW_AR} rcs ${libs}/gnu_static.a ${libs}/gnu.o)
run(${MINGW_DLLTOOL} -d ${libs}/stand_in.def -l ${libs}/gnu_import.a)

# case | expected outcome | texts the outcome must show (separated by &)
set(cases
    "static|pass|static linking check passed"
    "header_only|pass|static linking check passed"
    "static_links_system|pass|static linking check passed"
    "unknown_ms_static|pass|static linking check passed"
    "unknown_gnu_static|pass|static linking check passed"
    "shared|fail|dep is a SHARED_LIBRARY (a DLL)"
    "static_links_shared|fail|inner is a SHARED_LIBRARY (a DLL)"
    "interface_links_shared_in_debug|fail|inner is a SHARED_LIBRARY (a DLL)"
    "static_links_import_file|fail|${libs}/gnu_import.a is the import library of a DLL"
    "unknown_ms_import|fail|dep: ${libs}/ms_import.lib is the import library of a DLL"
    "unknown_gnu_import|fail|dep: ${libs}/gnu_import.a is the import library of a DLL"
    "unknown_release_import|fail|dep: ${libs}/ms_import.lib is the import library of a DLL"
    "unknown_implib|fail|dep: ${libs}/ms_import.lib is the import library of a DLL"
    "unknown_dll|fail|dep: ${libs}/stand_in.dll is a DLL"
    "static_md|fail|dep: ${libs}/ms_static_md.lib is built for the C runtime DLL (/MD)"
    "unknown_md|fail|dep: ${libs}/ms_static_md.lib is built for the C runtime DLL (/MD)"
    "static_links_md_file|fail|${libs}/ms_static_md.lib is built for the C runtime DLL (/MD)"
    "two_bad|fail|first is a SHARED_LIBRARY (a DLL)&second: ${libs}/gnu_import.a is the import library of a DLL"
)
set(failures 0)
foreach(entry IN LISTS cases)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 case)
    list(GET fields 1 expected)
    list(GET fields 2 texts)
    string(REPLACE "&" ";" texts "${texts}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${QUORLE_SOURCE_DIR}/tests/build/static_linking
                -B ${WORK}/${case} -DCASE=${case} -DLIBS=${libs}
                -DQUORLE_SOURCE_DIR=${QUORLE_SOURCE_DIR}
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    set(outcome pass)
    if(NOT status EQUAL 0)
        set(outcome fail)
    endif()
    set(missing)
    foreach(text IN LISTS texts)
        string(FIND "${out}" "${text}" at)
        if(at EQUAL -1)
            list(APPEND missing "${text}")
        endif()
    endforeach()
    if(NOT outcome STREQUAL expected OR missing)
        message(SEND_ERROR "case ${case}: expected ${expected} showing '${missing}', "
                           "got ${outcome}:\n${out}")
        math(EXPR failures "${failures} + 1")
    else()
        message(STATUS "case ${case}: ${outcome} as expected")
    endif()
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} case(s) of the static-linking check went wrong")
endif()
