# Sourced by the set-up scripts: `need COMMAND-OR-FILE PACKAGE...` notes the
# packages when the command (or the absolute file) is missing, and
# `install_needed` installs all that were noted, as root, from Debian.

want=()
need() {
  local what=$1
  shift
  if [[ "$what" == /* ]]; then
    [[ -e "$what" ]] || want+=("$@")
  else
    command -v "$what" >/dev/null 2>&1 || want+=("$@")
  fi
}

install_needed() {
  ((${#want[@]})) || return 0
  if [[ $(id -u) != 0 ]]; then
    echo "missing packages: ${want[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "installing: ${want[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${want[@]}" >/dev/null
  want=()
}
