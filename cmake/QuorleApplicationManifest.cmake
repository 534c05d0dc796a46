# quorle_application_manifest(<target>): the resources and link options every Windows program
# of the project carries. Elsewhere it does nothing.
#   - cmake/quorle.manifest as its one RT_MANIFEST resource, id 1
#     (CREATEPROCESS_MANIFEST_RESOURCE_ID).
#     MSVC: the file is the linker's manifest input, and /MANIFESTUAC:NO keeps the linker from
#           adding a trustInfo fragment of its own beside ours.
#     mingw-w64: in the program's resource script (the GNU linker writes no manifest).
#   - a VERSIONINFO resource (cmake/quorle_version.rc.in): product name, the project's version
#     as file and product version, and the program's description from the table below;
#     compiled by rc (MSVC) or windres (mingw-w64).
#   - MSVC: control-flow guard (/guard:cf; the sources are compiled with it, see
#     QuorleWarnings.cmake), and on x64 CET shadow-stack compatibility (/CETCOMPAT, which
#     does not apply to ARM64). tests/build/check_hardening.py checks both in the files.
set(QUORLE_APPLICATION_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/quorle.manifest)
set(QUORLE_VERSION_RESOURCE ${CMAKE_CURRENT_LIST_DIR}/quorle_version.rc.in)

# FileDescription of each program; other programs (test tools) get a generic one.
set(QUORLE_DESCRIPTION_quorle_audio_host "Quorle audio capture host")
set(QUORLE_DESCRIPTION_quorle_driver_setup "Quorle VB-CABLE driver setup")

function(quorle_application_manifest target)
    if(NOT WIN32)
        return()
    endif()
    set(QUORLE_PRODUCT_NAME "Quorle")
    set(QUORLE_PROGRAM_NAME ${target})
    if(DEFINED QUORLE_DESCRIPTION_${target})
        set(QUORLE_FILE_DESCRIPTION "${QUORLE_DESCRIPTION_${target}}")
    else()
        set(QUORLE_FILE_DESCRIPTION "Quorle test program ${target}")
    endif()
    set(QUORLE_VERSION_TEXT "${PROJECT_VERSION}")
    # The four 16-bit parts of the binary version fields.
    set(parts)
    foreach(part MAJOR MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            list(APPEND parts 0)
        else()
            list(APPEND parts ${PROJECT_VERSION_${part}})
        endif()
    endforeach()
    list(JOIN parts "," QUORLE_VERSION_NUMBERS)
    set(QUORLE_MANIFEST_RESOURCE "")
    if(NOT MSVC)
        # 1 = CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 = RT_MANIFEST
        set(QUORLE_MANIFEST_RESOURCE "1 24 \"${QUORLE_APPLICATION_MANIFEST}\"")
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
    configure_file(${QUORLE_VERSION_RESOURCE} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} TARGET_DIRECTORY ${target}
                                PROPERTIES OBJECT_DEPENDS ${QUORLE_APPLICATION_MANIFEST})
    if(MSVC)
        target_sources(${target} PRIVATE ${QUORLE_APPLICATION_MANIFEST})
        # CMake hands .manifest sources to the linker's embedded manifest (Ninja: through its
        # link helper and mt; Visual Studio: as additional manifest files).
        target_link_options(${target} PRIVATE /MANIFESTUAC:NO /guard:cf)
        if(CMAKE_CXX_COMPILER_ARCHITECTURE_ID STREQUAL "x64")
            target_link_options(${target} PRIVATE /CETCOMPAT)
        endif()
    endif()
endfunction()
