# quorle_delay_load_system_dlls(<target>): the program imports at load time only DLLs that
# every process maps anyway (kernel32, ntdll, the api-ms-win-core API sets and, in the mingw
# build, msvcrt, a Known DLL); every other DLL is delay-loaded, that is, loaded by the program
# itself on the first call into it.
#
# Why: DLLs imported at load time, and their own dependencies that are not Known DLLs, load
# before main and so before the program's first call restricts the library search to
# System32; Windows looks for such dependencies beside the program first (setupapi.dll pulls
# cfgmgr32.dll, crypt32.dll pulls CRYPTBASE.dll). Delay-loaded, they load after that call and
# only from System32. Nothing that runs before main (static initializers, TLS callbacks, the
# C runtime's start-up) may call into them.
#
# MSVC: /DELAYLOAD for each DLL, with delayimp.lib (the helper). mingw: delay libraries made
# from the toolchain's import libraries (delay_import.py) sit first on the library path, so
# they take the place of the import libraries for every -l of the link, also those that
# FindOpenSSL's targets and gcc's default libraries add after the program's own (each delay
# library also carries its import library's few static members: GUIDs, the inline helpers of
# ws2_32). After the link the program's delay-import directory is filled in (GNU ld leaves
# it empty), so that Windows tools and the import check see the delay imports.
include_guard(GLOBAL)

# Every DLL the programs' code, the C and C++ runtimes, OpenSSL and cubeb may import besides
# kernel32 and msvcrt. A name the program does not use costs nothing.
set(QUORLE_DELAY_LOADED_DLLS
    advapi32 avrt bcrypt cfgmgr32 crypt32 gdi32 ksuser ole32 oleaut32 propsys setupapi shell32
    shlwapi user32 version winmm ws2_32)

if(MINGW)
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
    find_program(QUORLE_MINGW_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool
                 x86_64-w64-mingw32-dlltool REQUIRED)
    # The toolchain's import libraries: the folder of libkernel32.a.
    find_library(QUORLE_MINGW_KERNEL32 NAMES libkernel32.a kernel32 REQUIRED)
    get_filename_component(QUORLE_MINGW_IMPORT_LIBRARIES "${QUORLE_MINGW_KERNEL32}" DIRECTORY)
    set(QUORLE_DELAY_LIBRARIES "${CMAKE_BINARY_DIR}/delay-import")
    # Made again when the list or the script changes.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${CMAKE_CURRENT_LIST_DIR}/delay_import.py)
    file(SHA256 ${CMAKE_CURRENT_LIST_DIR}/delay_import.py _quorle_delay_script)
    string(SUBSTRING "${_quorle_delay_script}" 0 12 _quorle_delay_script)
    string(REPLACE ";" "-" _quorle_delay_stamp "${QUORLE_DELAY_LOADED_DLLS}")
    set(_quorle_delay_stamp
        "${QUORLE_DELAY_LIBRARIES}/${_quorle_delay_stamp}-${_quorle_delay_script}.stamp")
    if(NOT EXISTS "${_quorle_delay_stamp}")
        execute_process(
            COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/delay_import.py libraries
                    --nm ${CMAKE_NM} --ar ${CMAKE_AR} --dlltool ${QUORLE_MINGW_DLLTOOL}
                    --lib-dir ${QUORLE_MINGW_IMPORT_LIBRARIES} --out ${QUORLE_DELAY_LIBRARIES}
                    ${QUORLE_DELAY_LOADED_DLLS}
            RESULT_VARIABLE _quorle_delay_result)
        if(NOT _quorle_delay_result EQUAL 0)
            message(FATAL_ERROR "quorle: the delay-import libraries could not be made")
        endif()
        file(TOUCH "${_quorle_delay_stamp}")
    endif()
endif()

function(quorle_delay_load_system_dlls target)
    if(MSVC)
        foreach(dll IN LISTS QUORLE_DELAY_LOADED_DLLS)
            target_link_options(${target} PRIVATE /DELAYLOAD:${dll}.dll)
        endforeach()
        # LNK4199: a listed DLL that this program does not import.
        target_link_options(${target} PRIVATE /IGNORE:4199)
        target_link_libraries(${target} PRIVATE delayimp)
    elseif(MINGW)
        target_link_directories(${target} BEFORE PRIVATE ${QUORLE_DELAY_LIBRARIES})
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/delay_import_end.cpp)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/delay_import.py
                    fill $<TARGET_FILE:${target}>
            VERBATIM)
    endif()
endfunction()
