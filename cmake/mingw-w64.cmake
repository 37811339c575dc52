# Cross-builds for 64-bit Windows with Debian's MinGW-w64. The POSIX thread model: GCC 12 has
# std::thread only with it. Without Qt the runtime is linked in, so an .exe runs on its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# With the window, Qt's DLLs bring MinGW's runtime DLLs anyway: one copy of it, shared, then.
if(BREM_QT_WINDOWS)
    # Qt cross-built by scripts/windows-qt; its tools (moc) are the build machine's.
    list(APPEND CMAKE_FIND_ROOT_PATH ${BREM_QT_WINDOWS})
    set(QT_HOST_PATH /usr)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
    # Where the runtime DLLs of the POSIX thread model are.
    set(BREM_MINGW_GCC_DLLS /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
else()
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()
