# Cross build for 32-bit Windows with MinGW-w64 (posix threads model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KW_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${KW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KW_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: -static-libgcc/-static-libstdc++ alone still import libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# CTest (and gtest_discover_tests) start .exe files through our Wine runner, with the
# prefixes in the build tree, never in ~/.wine.
get_filename_component(kw_wine_run "${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${kw_wine_run};--root=${CMAKE_BINARY_DIR}/wine")
