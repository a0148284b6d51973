# The receiver family's mips processors, with Debian's mipsel-linux-gnu cross compiler.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CROSS_TRIPLE mipsel-linux-gnu)
set(CROSS_QEMU qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/../cross.cmake)
# The architecture name receiver feeds give these boxes' packages.
set(RECEIVER_FEED_ARCH_DEFAULT mips32el)

# Size: no .pdr debugging tables, and position-dependent programs, which on
# MIPS drop a relocation per word-table row and the PIC call sequences; their
# calls into libc go through a PLT (glibc's loader has taken one since 2.9)
# rather than a $gp-relative GOT load before each: larger programs shrink,
# the smallest (wakenap, with few calls per function) grows by some 200 bytes. Hoisting loop invariants
# out of loops costs MIPS more registers to save than it wins at -Os.
set(RECEIVER_TARGET_OPTIONS -Wa,-mno-pdr -fno-move-loop-invariants)
set(RECEIVER_PROGRAM_COMPILE_OPTIONS -fno-pie -mplt)
set(RECEIVER_PROGRAM_LINK_OPTIONS -no-pie)

# Stripped-size budget of the receiver's flash, in bytes. skylist's was 24 KiB
# before it compared scans with known lists; with the DVBv5 reader, the
# statuses and their map it needs about 30 KB, and 32 KiB is asked for.
# skyscan's was 24 KiB: refusing requests that search nothing, a message of
# its own for each failure and stopping when its output is lost took it from
# 22556 to 24060 bytes, and learning the demodulator's window, reach and precision
# (and the whole-satellite scan in a file of its own) to 28244; single-cable
# user bands and every DiSEqC switch took it to 33568: 34 KiB. Scanning on
# several tuners at once (a thread each, the pieces and turns of the crew,
# busy tuners and held cables) and the progress events for plugins took it
# to 46912: 47 KiB.
set(RECEIVER_SIZE_BUDGETS skysweep=8192 skyscan=48128 skylist=32768 wakenap=5120 zarvocrc=6144)
