# Cross build for 64-bit Windows with Debian's mingw-w64 compiler (POSIX threads
# variant, needed for std::thread and std::mutex). The runtime libraries are
# linked statically so the executables run without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VYK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VYK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VYK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VYK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VYK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Unicode entry points and types throughout; no minimal-header surprises.
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601")

