# Build rules shared by everything that ships to the receiver: no exceptions,
# no RTTI, and a link that names libc (and the static libgcc helpers) alone, so
# that no libstdc++ or libgcc_s can slip in, with or without --as-needed.

# Everything is also built for size: the receiver's flash is small. A
# toolchain file may add RECEIVER_TARGET_OPTIONS (compile),
# RECEIVER_TARGET_LINK_OPTIONS and, for
# programs only, RECEIVER_PROGRAM_COMPILE_OPTIONS / _LINK_OPTIONS.
function(receiver_compile_rules target)
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics -fvisibility=hidden
    -ffunction-sections -fdata-sections -fno-ident ${RECEIVER_TARGET_OPTIONS})
endfunction()

function(receiver_link_rules target)
  target_link_options(${target} PRIVATE -nodefaultlibs -Wl,--no-as-needed
    -Wl,--gc-sections -Wl,--build-id=none ${RECEIVER_TARGET_LINK_OPTIONS})
  if(RECEIVER_SANITIZE)
    # -nodefaultlibs drops the sanitizer runtimes too: name them, first.
    target_link_libraries(${target} PRIVATE asan ubsan)
  endif()
  target_link_libraries(${target} PRIVATE c gcc)
endfunction()

# Install components, one per package for the receiver's feeds: "scan" (the
# scan tools and the list maker) and "crcmodule" (the module) are safe on
# any machine, the host tools; "standby" (wakenap) acts on the power state of
# the machine it runs on, so a native build installs it only when asked for
# by name (cmake --install BUILD --component standby): on a PC, wakenap
# would stop its services, suspend it and reboot it.
if(CMAKE_CROSSCOMPILING)
  set(RECEIVER_ONLY_ON_REQUEST "")
else()
  set(RECEIVER_ONLY_ON_REQUEST EXCLUDE_FROM_ALL)
endif()

# A program for the receiver: its routines live in an OBJECT library so the
# unit tests link exactly the code that ships.
function(receiver_program name)
  cmake_parse_arguments(ARG "" "MAIN" "SOURCES" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name}_core OBJECT ${ARG_SOURCES})
    receiver_compile_rules(${name}_core)
    target_compile_options(${name}_core PRIVATE ${RECEIVER_PROGRAM_COMPILE_OPTIONS})
    # Whatever links these objects (the unit tests too) links as they need.
    target_link_options(${name}_core INTERFACE ${RECEIVER_PROGRAM_LINK_OPTIONS})
    target_include_directories(${name}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  add_executable(${name} ${ARG_MAIN})
  receiver_compile_rules(${name})
  receiver_link_rules(${name})
  target_compile_options(${name} PRIVATE ${RECEIVER_PROGRAM_COMPILE_OPTIONS})
  target_link_options(${name} PRIVATE ${RECEIVER_PROGRAM_LINK_OPTIONS})
  if(ARG_SOURCES)
    target_link_libraries(${name} PRIVATE ${name}_core)
  endif()
endfunction()
