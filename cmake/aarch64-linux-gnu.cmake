# Cross compiling for arm64 (aarch64) Linux with Debian's cross tools
# (crossbuild-essential-arm64). What it builds runs on another machine
# under qemu-user emulation: qemu-aarch64 -L /usr/aarch64-linux-gnu PROGRAM.
# Used with -DAPPLAUNCHER_CORE_ONLY=ON (scripts/arm64.sh), since the host's
# other libraries (libpython, a JDK, GoogleTest) are not there for arm64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(APPLAUNCHER_CROSS_ROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Headers and libraries from the arm64 tree only; programs from the host.
set(CMAKE_FIND_ROOT_PATH ${APPLAUNCHER_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${APPLAUNCHER_CROSS_ROOT})
