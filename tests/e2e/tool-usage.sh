#!/usr/bin/env bash
# A script or helper program as a user first meets it:
#   tool-usage.sh PROGRAM [ARGUMENT...]
# `PROGRAM ARGUMENT... --help` and `-h` print a usage on standard output and
# end with 0; an unknown option prints the usage on standard error and ends
# with 2. Neither may start any work (each must end within seconds). With
# VEXLO_EXPECT_VERSION set, --version must print exactly that and end with 0.
set -uo pipefail
program=${1:?program}
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL [$program $*]" >&2; exit 1; }

for help in --help -h; do
  timeout 20 "$program" "$@" "$help" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 0 ] || { cat "$work/out" "$work/err" >&2; fail "$help: status $status, expected 0"; }
  grep -qi '^usage:' "$work/out" || { cat "$work/out" >&2; fail "$help: no usage on standard output"; }
done

timeout 20 "$program" "$@" --no-such-option >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 2 ] || { cat "$work/out" "$work/err" >&2; fail "--no-such-option: status $status, expected 2"; }
grep -qi 'usage' "$work/err" || { cat "$work/err" >&2; fail "--no-such-option: no usage on standard error"; }
[ ! -s "$work/out" ] || { cat "$work/out" >&2; fail "--no-such-option: printed on standard output"; }
# An installed program also answers --version with its name and version.
if [ -n "${VEXLO_EXPECT_VERSION-}" ]; then
  timeout 20 "$program" "$@" --version >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 0 ] || { cat "$work/out" "$work/err" >&2; fail "--version: status $status, expected 0"; }
  [ "$(cat "$work/out")" = "$VEXLO_EXPECT_VERSION" ] ||
    { cat "$work/out" >&2; fail "--version: expected \"$VEXLO_EXPECT_VERSION\" on standard output"; }
  [ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "--version: printed on standard error"; }
fi
echo "ok [$program $*]"
