# Cross build for 64-bit Windows with the MinGW-w64 GCC toolchain (the POSIX threading model,
# whose libstdc++ supports std::thread and friends).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELMORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELMORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELMORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELMORA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the target's sysroot only; programs run on the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELMORA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
