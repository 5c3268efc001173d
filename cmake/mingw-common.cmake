# Shared part of the MinGW-w64 toolchain files. The -win32 compilers build the
# shipped binaries (they import only what Windows 2000/XP export); the -posix
# compilers build the test programs, which need std::thread for GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KZT_MINGW_TRIPLE})
set(CMAKE_C_COMPILER   ${KZT_MINGW_TRIPLE}-gcc-${KZT_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${KZT_MINGW_TRIPLE}-g++-${KZT_MINGW_THREADS})
set(CMAKE_RC_COMPILER  ${KZT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KZT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything links the C and C++ runtimes statically: the binaries copy to a
# Windows machine and run with nothing beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
