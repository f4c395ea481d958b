# Windows x86 (32-bit), for 32-bit Java VMs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TARGET i686-w64-mingw32)
set(WINDOWS_MACHINE x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
