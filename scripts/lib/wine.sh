# Sourced by the scripts that run Windows programs under Wine: installs Wine when missing and
# chooses the loader this machine can run.
#
# Some machines of this kind run no 32-bit Linux program: there the 32-bit Wine loader (what
# /usr/bin/wine, wineboot and reg start) fails with "Exec format error" while the 64-bit one
# works. aggiorna_wine_setup finds out once (or takes AGGIORNA_WINE_BITS=32|64 as given) and
# exports AGGIORNA_WINE_BITS. On the 64-bit path it puts a folder first in PATH whose wine,
# wineboot and wineserver start the 64-bit loader and server, so that every later command (CTest's
# emulator, the end-to-end driver) makes win64 prefixes and runs 64-bit programs only.

# shellcheck source=packages.sh
. "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

aggiorna_wine_install() {
  # Wine's 32-bit half comes from the i386 architecture; it installs even where it cannot run.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo dpkg --add-architecture i386
  fi
  aggiorna_install_packages wine wine64 wine32:i386 xvfb imagemagick g++-mingw-w64-i686 \
    g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
}

# Prints 32 when this machine runs the 32-bit Wine loader, else 64.
aggiorna_wine_probe() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo 32; else echo 64; fi
}

aggiorna_wine_setup() {
  aggiorna_wine_install || return 1
  case "${AGGIORNA_WINE_BITS:-}" in
    32|64) ;;
    "") AGGIORNA_WINE_BITS=$(aggiorna_wine_probe) ;;
    *) echo "AGGIORNA_WINE_BITS must be 32 or 64, not '$AGGIORNA_WINE_BITS'"; return 1 ;;
  esac
  export AGGIORNA_WINE_BITS
  if [ "$AGGIORNA_WINE_BITS" = 64 ]; then
    AGGIORNA_WINE64_SHIMS=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/wine64-shims
    mkdir -p "$AGGIORNA_WINE64_SHIMS"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$AGGIORNA_WINE64_SHIMS/wine"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 wineboot "$@"\n' >"$AGGIORNA_WINE64_SHIMS/wineboot"
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$AGGIORNA_WINE64_SHIMS/wineserver"
    chmod +x "$AGGIORNA_WINE64_SHIMS"/*
    case ":$PATH:" in *":$AGGIORNA_WINE64_SHIMS:"*) ;; *) PATH="$AGGIORNA_WINE64_SHIMS:$PATH" ;; esac
    export PATH
    export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  fi
}

# The line that says what the 64-bit path leaves out; it counts neither as passed nor as failed.
aggiorna_wine_not_run_line() {
  if [ "${AGGIORNA_WINE_BITS:-}" = 64 ]; then
    if [ "$(aggiorna_wine_probe)" = 32 ]; then
      echo "NOT RUN: the 32-bit program was not run: AGGIORNA_WINE_BITS=64 forces the 64-bit path; the Windows tests ran on the 64-bit build"
    else
      echo "NOT RUN: the 32-bit program was not run: this machine runs no 32-bit program; the Windows tests ran on the 64-bit build"
    fi
  fi
}
