# 32-bit Windows (x86), for a 32-bit vendor DLL.
include(${CMAKE_CURRENT_LIST_DIR}/x86-float.cmake)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(mingw_triple i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "${x86_float_flags}")
set(CMAKE_CXX_FLAGS_INIT "${x86_float_flags}")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
