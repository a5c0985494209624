#!/usr/bin/env bash
# The README a package installs names only what a package user has: no path
# of a source checkout or build tree, and the installed places it points to.
#   check-installed-readme.sh README.md
set -uo pipefail
readme=${1:?installed README.md}
[ -s "$readme" ] || { echo "FAIL: $readme is missing or empty" >&2; exit 1; }
fail=0
# A checkout's folders, as a path (build/..., ./build/..., `tools/demo`), not
# as a word inside one (/usr/lib/udev/rules.d, cmake --build).
if grep -nE '(^|[^[:alnum:]_./-])(\./)?((build|tools)/|docs/man([^[:alnum:]]|$))' "$readme" >&2; then
  echo "FAIL: $readme names paths that only a source checkout has (above)" >&2
  fail=1
fi
for text in /usr/share/doc/vexlo vexlo-emulate 'man Vexlo' docs/VEXLO.md; do
  grep -qF -- "$text" "$readme" || { echo "FAIL: $readme does not name $text" >&2; fail=1; }
done
# The marks of the parts left out must not show.
if grep -n 'checkout -->' "$readme" >&2; then
  echo "FAIL: $readme still holds checkout marks" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "ok: $readme names only what a package user has"
exit "$fail"
