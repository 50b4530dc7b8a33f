# Shared part of the mingw-w64 toolchains. The posix thread model gives the C++ runtime its
# std::mutex; its libwinpthread is linked statically like the rest of the runtime (see the
# top-level CMakeLists.txt), so only system DLLs have to ship beside the binaries.
set(CMAKE_C_COMPILER ${ZK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)
