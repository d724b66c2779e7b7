# 32-bit Windows (x86), for a 32-bit vendor DLL. Floating point goes through
# SSE, not the x87: an x87 load quiets a signalling NaN, and the bridge hands
# on every float bit for bit.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(mingw_triple i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
