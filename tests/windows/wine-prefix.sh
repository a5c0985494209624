#!/usr/bin/env bash
# Prepares the wine prefix the wine tests share, and starts its wineserver:
#   wine-prefix.sh        make the prefix (if needed) and start the server
#   wine-prefix.sh stop   stop the server once the tests are done
# Its first creation takes from seconds to a minute or two, so it runs once
# here, under a generous timeout, instead of inside the first test. A prefix
# left half-made by an interrupted run is made again.
#
# The prefix is 64-bit. With VEXLO_WINE32_ROOT (tools/wine32-setup) it also
# runs the 32-bit programs: 64-bit wineboot cannot fill syswow64 without a
# 32-bit wine installed, so the 32-bit DLLs of that root are linked into it.
set -uo pipefail
: "${WINEPREFIX:?}" "${VEXLO_WINE:?}" "${VEXLO_WINESERVER:?}"

if [ "${1:-}" = stop ]; then
  "$VEXLO_WINESERVER" --kill >/dev/null 2>&1
  exit 0
fi

prepare() {
  "$VEXLO_WINE" wineboot --init >/dev/null 2>&1
  "$VEXLO_WINESERVER" --wait
  [ -f "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/drive_c/windows/system32" ]
}

link_syswow64() {
  local dlls=$VEXLO_WINE32_ROOT/usr/lib/i386-linux-gnu/wine/i386-windows
  [ -f "$dlls/kernel32.dll" ] || { echo "no 32-bit wine DLLs in $dlls (run tools/wine32-setup)" >&2; return 1; }
  mkdir -p "$WINEPREFIX/drive_c/windows/syswow64"
  ln -sfn "$dlls"/* "$WINEPREFIX/drive_c/windows/syswow64/"
}

# A server left running by an interrupted run would keep --wait waiting.
"$VEXLO_WINESERVER" --kill >/dev/null 2>&1

for attempt in 1 2; do
  if prepare; then
    if [ -n "${VEXLO_WINE32_ROOT:-}" ]; then
      link_syswow64 || exit 1
    fi
    # One server for every test of the run, 64-bit and 32-bit clients alike
    # (one protocol for both bitnesses of one wine version); it stays until
    # "stop". It must not hold the test's output open, or the test would not
    # end.
    "$VEXLO_WINESERVER" -p < /dev/null > /dev/null 2>&1 ||
      { echo "could not start the wineserver" >&2; exit 1; }
    # A 64-bit start boots the prefix's system processes (services, the
    # mount manager), which stay with the server: a 32-bit process cannot
    # start them itself, and without the mount manager the volume calls of
    # the 32-bit programs' file system library crash.
    "$VEXLO_WINE" wineboot < /dev/null > /dev/null 2>&1
    echo "wine prefix ready: $WINEPREFIX"
    exit 0
  fi
  echo "wine prefix not usable (attempt $attempt); making it again" >&2
  "$VEXLO_WINESERVER" --kill >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
done
echo "could not prepare the wine prefix $WINEPREFIX" >&2
exit 1
