# quorle_application_manifest(<target>): embeds cmake/quorle.manifest into a Windows program
# as its one RT_MANIFEST resource, id 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID).
#   MSVC: the file is the linker's manifest input, and /MANIFESTUAC:NO keeps the linker from
#         adding a trustInfo fragment of its own beside ours.
#   mingw-w64: a resource script compiled by windres (the GNU linker writes no manifest).
# Elsewhere it does nothing.
set(QUORLE_APPLICATION_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/quorle.manifest)

function(quorle_application_manifest target)
    if(NOT WIN32)
        return()
    endif()
    if(MSVC)
        target_sources(${target} PRIVATE ${QUORLE_APPLICATION_MANIFEST})
        # CMake hands .manifest sources to the linker's embedded manifest (Ninja: through its
        # link helper and mt; Visual Studio: as additional manifest files).
        target_link_options(${target} PRIVATE /MANIFESTUAC:NO)
    else()
        set(rc ${PROJECT_BINARY_DIR}/quorle_application_manifest.rc)
        # 1 = CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 = RT_MANIFEST
        file(CONFIGURE OUTPUT ${rc} CONTENT "1 24 \"${QUORLE_APPLICATION_MANIFEST}\"\n")
        target_sources(${target} PRIVATE ${rc})
        set_source_files_properties(${rc} TARGET_DIRECTORY ${target}
                                    PROPERTIES OBJECT_DEPENDS ${QUORLE_APPLICATION_MANIFEST})
    endif()
endfunction()
