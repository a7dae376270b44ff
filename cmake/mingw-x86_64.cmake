# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads variant): the build
# that the 64-bit MetaTrader 5 terminal loads, and the only Windows build that runs on a kernel
# without 32-bit support.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# SSE2 is the x64 baseline: no excess precision to switch off. A pointer squeezed into a 32-bit
# integer is a fault here that the i686 build cannot show: C++ rejects the narrowing cast itself,
# and a 32-bit integer widened into a pointer is made an error too.
set(CMAKE_CXX_FLAGS_INIT "-Werror=int-to-pointer-cast")
set(CMAKE_C_FLAGS_INIT "-Werror=pointer-to-int-cast -Werror=int-to-pointer-cast")
# One self-contained file for the user: no libstdc++/libgcc/libwinpthread DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
