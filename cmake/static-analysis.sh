#!/bin/sh
# clang-tidy (rules in .clang-tidy) and cppcheck over the project's own code:
# the deliverables and the simulated receiver.
#   cmake/static-analysis.sh BUILD_DIR   (configured with CMAKE_EXPORT_COMPILE_COMMANDS)
set -eu
. "$(dirname "$0")/../cmake/script-help.sh"
script_help "$0" "${1-}"
build=$1
cd "$(dirname "$0")/.."
sources="results/*.cpp scan/*.cpp list/*.cpp standby/*.cpp crcmodule/*.cpp sim/*.cpp"
# shellcheck disable=SC2086
clang-tidy --quiet -p "$build" $sources
echo "clang-tidy: clean"
# shellcheck disable=SC2086
cppcheck --enable=warning,style,performance,portability --std=c++20 --error-exitcode=1 --inline-suppr \
  --quiet --suppress=missingIncludeSystem -I scan -I list -I crcmodule -I sim scan list standby crcmodule sim
echo "cppcheck: clean"
