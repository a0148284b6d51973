# The receiver family's arm processors, with Debian's arm-linux-gnueabihf cross compiler.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CROSS_TRIPLE arm-linux-gnueabihf)
set(CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/../cross.cmake)
# The architecture name receiver feeds give these boxes' packages.
set(RECEIVER_FEED_ARCH_DEFAULT cortexa15hf-neon-vfpv4)
