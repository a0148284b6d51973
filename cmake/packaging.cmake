# Packages for the receiver's feeds, one per install component (scan,
# standby, crcmodule), made by CPack's DEB generator: its archive is the
# .ipk that opkg installs, an ar of debian-binary ("2.0"), control.tar.gz
# and data.tar.gz in that order, gzip throughout (older opkg builds reject
# zstd). Members are owned by root, and with SOURCE_DATE_EPOCH set every
# timestamp is that one, so a commit always gives the same bytes.
#   cpack --config BUILD/CPackConfig.cmake -B FEED_DIR
# RECEIVER_FEED_ARCH is the Architecture field and file name's architecture
# (default from the toolchain: mips32el, cortexa15hf-neon-vfpv4, aarch64);
# RECEIVER_FEED_PYTHON the feed's package of the module's Python.
set(RECEIVER_FEED_ARCH "${RECEIVER_FEED_ARCH_DEFAULT}" CACHE STRING "Architecture name in the receiver's feed")
set(RECEIVER_FEED_PYTHON "python3-core" CACHE STRING "The feed's package of the Python the module is built for")
if(NOT RECEIVER_FEED_ARCH)
  message(STATUS "Packages: no feed architecture for ${CMAKE_SYSTEM_PROCESSOR}; set RECEIVER_FEED_ARCH")
  return()
endif()

# cpack runs after a build: it must not start one, least of all from the
# test machine's image, which is made of these packages.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL scan standby crcmodule)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${RECEIVER_FEED_ARCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Receiver tools developers <receiver-tools@lists.invalid>")
set(CPACK_DEBIAN_PACKAGE_SOURCE receiver-tools)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# The programs need glibc 2.34's symbols (see the size table in the README).
set(libc "libc6 (>= 2.34)")

# component: package name, section, dependencies, summary, description
function(receiver_package component name section depends summary description)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${name} PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${depends}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_FILE_NAME "${name}_${PROJECT_VERSION}_${RECEIVER_FEED_ARCH}.ipk" PARENT_SCOPE)
  set(CPACK_COMPONENT_${upper}_DESCRIPTION "${summary}\n${description}" PARENT_SCOPE)
endfunction()

receiver_package(scan skytools misc "${libc}" "blind scan of a satellite tuner, and the list of what it found"
  "skysweep sweeps a satellite tuner's band and prints one line per signal; skyscan scans a whole satellite in one run, setting the LNB itself; skylist merges the lines into a DVBv5 channel file, JSON Lines or an SVG map.")
receiver_package(standby wakenap base "${libc}" "standby that a Wake-on-LAN magic packet ends, then reboot"
  "wakenap stops services, arms Wake-on-LAN on eth0, puts the receiver into standby and reboots it once a magic packet has woken it.")

# The module is on the stable ABI: any Python from the oldest it serves on.
if(TARGET zarvocrc)
  set(python "${RECEIVER_FEED_PYTHON} (>= ${ZARVOCRC_OLDEST_PYTHON})")
  receiver_package(crcmodule python3-zarvocrc python "${python}, ${libc}" "CRC-32 of programme guide sections for Python"
    "zarvocrc.crc32(data, type) computes the CRC-32 a programme-guide importer checks its sections with; one module for Python ${ZARVOCRC_OLDEST_PYTHON} and later.")
else()
  list(REMOVE_ITEM CPACK_COMPONENTS_ALL crcmodule)
endif()
include(CPack)
