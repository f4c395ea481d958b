# Linux on 64-bit ARM, cross-compiled with Debian's aarch64-linux-gnu toolchain. The JDK's jni.h
# serves as it is; libpulse's and libxcb's headers come from the build machine's /usr/include
# (the backend opens those libraries at run time, so nothing of theirs is linked).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
# javac and the binutils run on the build machine; libraries come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
