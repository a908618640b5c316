# SPDX-License-Identifier: BSD-2-Clause
# Cross build for 64-bit Arm Linux on a Debian x86-64 host:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
# Compilers: g++-aarch64-linux-gnu (C library in /usr/aarch64-linux-gnu). Libraries the targets
# link (libsndfile, GoogleTest, ...) are Debian's arm64 multiarch packages in
# /usr/lib/aarch64-linux-gnu. Programs run under qemu-user, so gtest_discover_tests and ctest
# work on the build machine. scripts/cross-aarch64.sh installs all of it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross C library first, then the multiarch tree (its lib/aarch64-linux-gnu holds the Arm
# builds of the packages; include/ and share/ are architecture-independent).
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers for the Arm packages only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Run Arm programs under qemu-user: the loader and C library of the cross toolchain, whose
# libraries go first so that they match that loader; the multiarch packages are found through
# the loader's usual search.
find_program(G729_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${G729_QEMU_AARCH64} -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
