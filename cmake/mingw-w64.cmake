# Cross-builds the Windows programs with Debian's mingw-w64 (the posix thread
# model, which std::thread needs).  Every program is linked statically, so an
# .exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PIC_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PIC_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PIC_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PIC_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PIC_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
