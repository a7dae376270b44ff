# Cross-compiles for 32-bit Windows: the build that the MetaTrader 4 terminal loads.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PELLITH_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# x87 excess precision would round the snapshot's arithmetic twice.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
