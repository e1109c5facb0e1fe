# SPDX-License-Identifier: MIT
# Cross-builds for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu), whose headers and libraries, libgomp included,
# live under /usr/aarch64-linux-gnu.  The tests run under qemu-user
# (qemu-aarch64), which CMake puts in front of every test command and of
# GoogleTest's test discovery.  Used by the aarch64 preset.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(MEDIAN_CROSS_ROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries, headers and packages come from the target's root only, so that
# nothing built for the build machine is linked by mistake; programs (the
# build's own tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH ${MEDIAN_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: where qemu finds the target's dynamic loader and shared libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${MEDIAN_CROSS_ROOT})
