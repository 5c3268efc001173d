# MinGW-w64 cross compiler for x86_64, posix thread model.
set(KZT_MINGW_TRIPLE x86_64-w64-mingw32)
set(KZT_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
