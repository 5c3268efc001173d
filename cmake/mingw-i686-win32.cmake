# MinGW-w64 cross compiler for i686, win32 thread model.
set(KZT_MINGW_TRIPLE i686-w64-mingw32)
set(KZT_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
