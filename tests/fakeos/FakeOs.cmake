# kw_add_fakeos_gtest(<name> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>])
# A test program on the fake HID platform (tests/fakeos), win32 build only. Its main
# installs the fake HID.DLL, setupapi.dll and cfgmgr32.dll into the system folder of the
# program's own Wine prefix before any test; tests swap in other builds with
# KwFake_Install. CTest runs the whole program as one test: a private prefix costs a
# wineboot of several seconds, too much for each case. Only this program gets
# WINEDLLOVERRIDES naming the three native: Wine's own services keep the real ones.
include_guard(GLOBAL)

function(kw_add_fakeos_gtest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS;LABELS")
    if(NOT WIN32)
        return()
    endif()
    if(NOT arg_SOURCES)
        message(FATAL_ERROR "kw_add_fakeos_gtest(${name}): no SOURCES")
    endif()
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} kw_fakeos_main GTest::gmock)
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
    add_dependencies(${name} kw_fakeos_libs)
    # The program imports kwfakeos.dll, so it goes beside the program; the three fakes load
    # it from there by name, being loaded already.
    add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:kwfakeos>" "$<TARGET_FILE_DIR:${name}>"
        VERBATIM)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "KW_WINE_PRIVATE_PREFIX=1;WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n"
        LABELS "fakeos;${arg_LABELS}"
        TIMEOUT 300)
endfunction()
