# Cross-compiling for Windows with Debian's MinGW-w64 (posix thread model); the file of each
# target sets CMAKE_SYSTEM_PROCESSOR and includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(QVSPLIT_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${QVSPLIT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVSPLIT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QVSPLIT_MINGW_TRIPLET}-windres)
# Dependencies built for this target live in the prefix given by QVSPLIT_WIN_PREFIX.
set(CMAKE_FIND_ROOT_PATH /usr/${QVSPLIT_MINGW_TRIPLET} ${QVSPLIT_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The DLL and the programs carry the compiler's runtime (libgcc, libstdc++, winpthread), so a
# Windows machine needs nothing beside them but its own system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
