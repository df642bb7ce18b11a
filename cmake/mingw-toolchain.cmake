# Cross build for Windows with MinGW-w64; the toolchain files set
# KEEPSAKE_TARGET_PROCESSOR and include this one. The -posix compilers carry
# the posix thread model that std::thread, std::mutex and GoogleTest need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KEEPSAKE_TARGET_PROCESSOR})
set(KEEPSAKE_TRIPLET ${KEEPSAKE_TARGET_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER   ${KEEPSAKE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEEPSAKE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${KEEPSAKE_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KEEPSAKE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Explorer loads our DLLs with nothing beside them but each other.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
