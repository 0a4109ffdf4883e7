# Sourced by the set-up scripts: which Debian packages are missing, and installing them.

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Prints those of the named packages that are not installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# install_packages LABEL PACKAGE...: installs them from the archive, without recommends.
install_packages() {
  local label=$1
  shift
  echo "$label: installing $*"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "$@"
}
