# What both Windows toolchain files share: Debian's mingw-w64 compilers of the posix threads
# variant for PELLITH_MINGW_TARGET, statically linked, run under Wine by scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${PELLITH_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLITH_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLITH_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLITH_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One self-contained file for the user: no libstdc++/libgcc/libwinpthread DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# scripts/wine-run reads each program's architecture from its header.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
