# Cross-compiles for 64-bit Windows: the build that the 64-bit MetaTrader 5 terminal loads, and
# the only Windows build that runs on a kernel without 32-bit support.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELLITH_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# SSE2 is the x64 baseline: no excess precision to switch off. A pointer squeezed into a 32-bit
# integer is a fault here that the i686 build cannot show: C++ rejects the narrowing cast itself,
# and a 32-bit integer widened into a pointer is made an error too.
set(CMAKE_CXX_FLAGS_INIT "-Werror=int-to-pointer-cast")
set(CMAKE_C_FLAGS_INIT "-Werror=int-to-pointer-cast")
