# Sourced by the scripts that install what they need: Debian packages, through apt-get (as root,
# or with sudo).

# Installs those of the given packages that are missing. Prints which it installs, or that it
# could not (then returns 1).
aggiorna_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "== installing: ${missing[*]}"
  local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  { $sudo apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  } >/dev/null || { echo "cannot install ${missing[*]}"; return 1; }
}
