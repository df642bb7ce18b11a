# Windows on this processor; everything else is shared by both targets.
set(KEEPSAKE_TARGET_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
