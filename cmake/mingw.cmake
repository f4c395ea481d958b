# Cross-compiles the Windows deliverables for MINGW_TARGET, the machine WINDOWS_MACHINE (x86,
# x86-64 or arm64, as the tests name it), both set by the toolchain file that includes
# this one: with mingw-w64's GCC for i686-w64-mingw32 and x86_64-w64-mingw32, or with the compiler
# that the toolchain file names with its target (clang, for aarch64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
if(NOT CMAKE_CXX_COMPILER_TARGET)
  set(CMAKE_C_COMPILER ${MINGW_TARGET}-gcc)
  set(CMAKE_CXX_COMPILER ${MINGW_TARGET}-g++)
  set(CMAKE_RC_COMPILER ${MINGW_TARGET}-windres)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TARGET})
# javac and objdump run on the build machine; libraries and headers come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
