#!/usr/bin/env bash
# The emulator launcher refuses what cannot work before the program runs, each
# with one line on standard error naming the setting, and never hangs:
#   vexlo-emulate.sh BIN-DIR
# BIN-DIR holds vexlo-emulate as the build configures it, beside Vexlo.
set -uo pipefail
bin_dir=${1:?bin dir}
launcher=$bin_dir/vexlo-emulate
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/folder"
mkfifo "$work/pipe"
printf 'x' > "$work/plain"
{ echo "power = on"; head -c 65536 /dev/zero | tr '\0' '#'; echo; } > "$work/big.conf"
head -c 16384 /dev/urandom > "$work/fw.bin"

# NAME | VEXLO_EMULATOR | PROGRAM | STATUS | TEXT on standard error (@ = the work folder, % = BIN-DIR)
cases=$(cat <<'TABLE'
NoSuchProgram||nosuchprog|127|vexlo-emulate: no program "nosuchprog" (looked for %/nosuchprog, then on PATH)
NoSuchProgramFile||@/nope|127|vexlo-emulate: no program "@/nope" (looked for the file @/nope)
SettingsFolder|@/folder|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: the settings file "@/folder" is a folder
SettingsPipe|@/pipe|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: the settings file "@/pipe" is not a regular file (a pipe or a device)
SettingsWithoutEnd|/dev/zero|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: the settings file "/dev/zero" is not a regular file (a pipe or a device)
SettingsOver64KB|@/big.conf|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: the settings file "@/big.conf" is over 64 KB
SettingsMissing|@/missing.conf|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: cannot read the settings file "@/missing.conf"
OutIsAFile|out=@/plain|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: out=@/plain is a file, not a folder
OutCannotBeMade|out=@/plain/below|Vexlo|2|vexlo-emulate: VEXLO_EMULATOR: out=@/plain/below: cannot create the folder
TABLE
)

fail=0
while IFS='|' read -r name settings program status text; do
  settings=${settings//@/$work}
  program=${program//@/$work}
  text=${text//@/$work}
  text=${text//%/$bin_dir}
  (cd "$work" && VEXLO_EMULATOR=$settings timeout 20 "$launcher" "$program" -uc fw.bin) \
    >"$work/out" 2>"$work/err" </dev/null
  got=$?
  if [ "$got" -ne "$status" ] || [ "$(cat "$work/err")" != "$text" ] || [ -s "$work/out" ]; then
    echo "FAIL [$name]: status $got (expected $status); standard error:" >&2
    cat "$work/err" "$work/out" >&2
    echo "expected: $text" >&2
    fail=1
  fi
done <<< "$cases"

# The settings the launcher accepts reach the program's run unchanged.
(cd "$work" && VEXLO_EMULATOR="out=$work/cart" timeout 60 "$launcher" Vexlo -uc fw.bin) >"$work/out" 2>"$work/err"
got=$?
if [ "$got" -ne 0 ] || ! cmp -s "$work/fw.bin" "$work/cart/firmware.bin" ||
   [ "$(head -n 1 "$work/err")" != "vexlo-emulate: the emulated cartridge's files and log go to $work/cart" ]; then
  echo "FAIL [Upload]: status $got" >&2
  cat "$work/out" "$work/err" >&2
  fail=1
fi

[ "$fail" -eq 0 ] || exit 1
echo "ok: the launcher's refusals and one upload"
