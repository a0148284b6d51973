# The receiver family's aarch64 processors, with Debian's aarch64-linux-gnu cross compiler.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CROSS_TRIPLE aarch64-linux-gnu)
set(CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/../cross.cmake)
# The architecture name receiver feeds give these boxes' packages.
set(RECEIVER_FEED_ARCH_DEFAULT aarch64)


# The linker lays segments out for 64 KiB pages here, so files are padded to
# about 66 KiB; -z max-page-size=4096 would shrink them but break receivers
# whose kernel uses 64 KiB pages.
