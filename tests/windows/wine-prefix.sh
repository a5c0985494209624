#!/usr/bin/env bash
# Prepares the wine prefix the wine tests share. Its first creation takes
# from seconds to a minute or two, so it runs once here, under a generous
# timeout, instead of inside the first test. A prefix left half-made by an
# interrupted run is made again.
set -uo pipefail
: "${WINEPREFIX:?}" "${VEXLO_WINE:?}" "${VEXLO_WINESERVER:?}"

prepare() {
  "$VEXLO_WINE" wineboot --init >/dev/null 2>&1
  "$VEXLO_WINESERVER" --wait
  [ -f "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/drive_c/windows/system32" ]
}

for attempt in 1 2; do
  if prepare; then
    echo "wine prefix ready: $WINEPREFIX"
    exit 0
  fi
  echo "wine prefix not usable (attempt $attempt); making it again" >&2
  "$VEXLO_WINESERVER" --kill >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
done
echo "could not prepare the wine prefix $WINEPREFIX" >&2
exit 1
