# Windows x86-64, for 64-bit Java VMs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TARGET x86_64-w64-mingw32)
set(WINDOWS_MACHINE x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
