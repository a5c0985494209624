#!/usr/bin/env bash
# Runs one scenario of the 64-bit Windows programs under wine:
#   wine-test.sh SCENARIO
# Environment (set by CMake): VEXLO_WIN64_DIR (the cross build), VEXLO_NATIVE_BIN
# (native tools), VEXLO_SOURCE_DIR, VEXLO_WORK (a folder of its own for
# this scenario), VEXLO_WINE, WINEPREFIX, WINEDEBUG.
set -uo pipefail
: "${VEXLO_WIN64_DIR:?}" "${VEXLO_WORK:?}" "${VEXLO_WINE:?}" "${WINEPREFIX:?}"
scenario=${1:?scenario}

fail() {
  echo "FAIL [$scenario]: $*" >&2
  exit 1
}

# Shows the bytes of both sides when a comparison fails, because a stray
# carriage return is invisible in a plain diff.
expect_file() {  # expect_file WHAT EXPECTED-FILE ACTUAL-FILE
  if ! cmp -s "$2" "$3"; then
    echo "--- expected $1:" >&2; od -c "$2" | head -60 >&2
    echo "--- actual $1:" >&2; od -c "$3" | head -60 >&2
    fail "$1 differs"
  fi
}

expect_text() {  # expect_text WHAT EXPECTED-TEXT ACTUAL-FILE
  printf '%s' "$2" > "$VEXLO_WORK/expected.txt"
  expect_file "$1" "$VEXLO_WORK/expected.txt" "$3"
}

expect_status() {  # expect_status EXPECTED ACTUAL
  [ "$1" = "$2" ] || { show_output; fail "exit status $2, expected $1"; }
}

show_output() {
  echo "--- stdout:" >&2; cat "$VEXLO_WORK/stdout.txt" >&2 2>/dev/null
  echo "--- stderr:" >&2; cat "$VEXLO_WORK/stderr.txt" >&2 2>/dev/null
}

# Copies a program into the scenario's folder, which is also its current
# directory, so it finds Ftd2xx.dll there only when the scenario puts it there.
prepare() {  # prepare WITH-DRIVER PROGRAM...
  rm -rf "$VEXLO_WORK"
  mkdir -p "$VEXLO_WORK/run"
  local withDriver=$1; shift
  for program in "$@"; do
    cp "$VEXLO_WIN64_DIR/bin/$program.exe" "$VEXLO_WORK/run/" || fail "no $program.exe in the cross build"
  done
  if [ "$withDriver" = yes ]; then
    cp "$VEXLO_WIN64_DIR/emulator/Ftd2xx.dll" "$VEXLO_WORK/run/" || fail "no Ftd2xx.dll in the cross build"
  fi
  cd "$VEXLO_WORK/run" || fail "cannot enter $VEXLO_WORK/run"
}

# Runs a program to its end; stdin comes from the file named in $input.
input=/dev/null
run() {  # run PROGRAM ARGS... ; sets $status
  timeout -k 5 90 "$VEXLO_WINE" "$@" < "$input" > "$VEXLO_WORK/stdout.txt" 2> "$VEXLO_WORK/stderr.txt"
  status=$?
  [ "$status" -ne 124 ] && [ "$status" -ne 137 ] || { show_output; fail "$1 did not finish"; }
}

# The help text, with the build's date and time replaced by a fixed text.
help_text() {
  printf '\n\nVexlo help: (version 0.51 DATE TIME)\n'
  printf -- '-------------------------------------------------------\n\n'
  printf -- '-prg [path]\n Start Prg-file.\n\n'
  printf -- '-dbg [path]\n Bugaboo path. If given bugaboo is started before.\n\n'
  printf -- '-cmd [Bugaboo commands]\n Bugaboo commands which are executed after loading. -cmd g starts the prg directly after loading. The commands are separated by :\n\n'
  printf -- '-uc [path]\n Upload cartridge (68k firmware).\n\n'
  printf -- '-data [path]\n Send data of max 16kb to the cartridge. This can be used to send data after a prg is started. The 16kb is visable from $fa8000-$fabfff.\n\n'
  printf -- '-drvimg [path]\n Starts the drive image server with the given drive image.\n\n'
}

mask_build_time() {
  sed -E 's/\(version 0\.51 [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\)/(version 0.51 DATE TIME)/' "$1"
}

case "$scenario" in

  vexlo-no-driver)
    # Without Ftd2xx.dll the binding reports it, and the run goes on to the
    # help text; every line ends in "\n" alone.
    prepare no Vexlo
    run Vexlo.exe
    expect_status 255 "$status"
    { printf "Error: Can't Load Ftd2xx.dll\n"; help_text; } > "$VEXLO_WORK/expected.txt"
    mask_build_time "$VEXLO_WORK/stdout.txt" > "$VEXLO_WORK/stdout-masked.txt"
    expect_file stdout "$VEXLO_WORK/expected.txt" "$VEXLO_WORK/stdout-masked.txt"
    expect_text stderr "" "$VEXLO_WORK/stderr.txt"
    ;;

  updater-no-driver)
    # The updater binds while its globals are constructed, before main: that
    # message too must come out without a carriage return.
    prepare no VexloFPGAUpdate
    printf '\n' > "$VEXLO_WORK/return.txt"
    input="$VEXLO_WORK/return.txt"
    run VexloFPGAUpdate.exe
    expect_status 0 "$status"
    expect_text stdout "Error: Can't Load Ftd2xx.dll
Vexlo FPGA update version 1.0
--------------------------------

Do not disconnect the cartridge from USB or switch off your Atari!

If the update hangs you maybe selected a char in the terminal
window with the mouse. This forces the update to pause.
In this case just press return.

Press return to continue.
Error: FT_OpenEx is not valid!
" "$VEXLO_WORK/stdout.txt"
    expect_text stderr "Unable to option Vexlo cartridge.
" "$VEXLO_WORK/stderr.txt"
    ;;

  *)
    fail "unknown scenario"
    ;;
esac
echo "ok [$scenario]"
