# kw_add_plugin(<target> SOURCES <files...>)
# A player plug-in DLL: no "lib" prefix, exports only what its .def file lists, everything
# linked in statically, and a copy without debug information in KW_DIST_DIR, made again
# whenever the DLL changed or the copy is missing (target <target>_dist, part of ALL).
function(kw_add_plugin target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES")
    add_library(${target} SHARED ${arg_SOURCES})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
    foreach(lib kw_engine kw_rtl)
        if(TARGET ${lib})
            target_link_libraries(${target} PRIVATE ${lib})
        endif()
    endforeach()
    # Without this, MinGW's ld exports every symbol when the .def file lists none.
    target_link_options(${target} PRIVATE -static -Wl,--exclude-all-symbols)
    set(copy "${KW_DIST_DIR}/${target}.dll")
    add_custom_command(OUTPUT "${copy}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${KW_DIST_DIR}"
        COMMAND "${CMAKE_STRIP}" --strip-debug -o "${copy}" "$<TARGET_FILE:${target}>"
        DEPENDS ${target}
        VERBATIM)
    add_custom_target(${target}_dist ALL DEPENDS "${copy}")
endfunction()
