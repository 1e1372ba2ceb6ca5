# The 64-bit twin of mingw-i686.cmake. Used to build a runnable test tree on hosts that cannot
# execute 32-bit x86 code at all (no 32-bit Wine); the shipped program stays the i686 build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELMORA_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
