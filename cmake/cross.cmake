# Shared part of the toolchain files: Debian's cross compiler for
# CROSS_TRIPLE, and qemu-user (CROSS_QEMU) as the emulator that ctest runs
# target programs with. The target root defaults to where the compiler's
# libc lives; CROSS_SYSROOT points elsewhere, such as a receiver SDK's root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLE}-g++)

if(CROSS_SYSROOT)
  set(CMAKE_SYSROOT "${CROSS_SYSROOT}")
  set(qemu_root "${CROSS_SYSROOT}")
else()
  # Debian's cross compilers need no sysroot; their libc tells the root.
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libc.so.6
                  OUTPUT_VARIABLE libc OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(libc "${libc}" REALPATH)
  get_filename_component(libdir "${libc}" DIRECTORY)
  get_filename_component(qemu_root "${libdir}" DIRECTORY)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_SYSROOT)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU} -L ${qemu_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
