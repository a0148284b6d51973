# Sourced by the project's shell scripts, which then call
#   script_help "$0" "${1-}"
# --help (or -h) prints the script's opening comment, its usage, on standard
# output; --version (or -V) prints the project's version from the VERSION
# file at the top of the checkout. Both exit 0; other arguments are the
# script's own.
script_help() {
  case ${2-} in
    -h | --help)
      sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$1"
      exit 0
      ;;
    -V | --version)
      dir=$(cd "$(dirname "$1")" && pwd)
      while [ "$dir" != / ] && [ ! -f "$dir/VERSION" ]; do dir=$(dirname "$dir"); done
      echo "${1##*/} $(cat "$dir/VERSION")"
      exit 0
      ;;
  esac
}
