# 32-bit x86 Linux programs, built with the native compiler's multilib
# support and run under qemu-i386 on a kernel that cannot execute them: the
# same float path as the 32-bit Windows build, run instead of only read.
include(${CMAKE_CURRENT_LIST_DIR}/x86-float.cmake)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32 ${x86_float_flags}")
set(CMAKE_CXX_FLAGS_INIT "-m32 ${x86_float_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
find_program(QEMU_I386_PROGRAM qemu-i386)
if(QEMU_I386_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386_PROGRAM})
endif()
