# 32-bit Linux (i686) with the host's gcc and -m32: the portable libraries, the pak tool and the
# tests with 32-bit sizes and pointers, as the Windows program has them. This machine's kernel
# runs no 32-bit program, so the tests run under qemu-i386-static (CMAKE_CROSSCOMPILING_EMULATOR,
# set by the preset). Needs Debian's gcc-multilib, g++-multilib and lib32z1-dev.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
