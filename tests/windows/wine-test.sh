#!/usr/bin/env bash
# Runs one scenario of the Windows programs under wine:
#   wine-test.sh SCENARIO
# Environment (set by CMake): VEXLO_WINE_ARCH (win32 or win64),
# VEXLO_WINDOWS_DIR (the cross build of that bitness), VEXLO_WORK (a folder
# of its own for this scenario), VEXLO_WINE, VEXLO_WINESERVER, WINEPREFIX,
# WINEDEBUG; for win32 VEXLO_WINE32_ROOT (tools/wine32-setup);
# for the scenarios with the emulator also VEXLO_NATIVE_BIN and
# VEXLO_NATIVE_EMULATOR_DIR (the native build's programs and emulator),
# VEXLO_SOURCE_DIR; for the scenarios with real-world files VEXLO_CORPUS_DIR
# and VEXLO_REQUIRE_CORPUS (ON: a missing corpus fails instead of skipping).
#
# Scenarios with the emulator run the same command twice, natively and under
# wine, from copies of the same input files, and expect the same exit
# status, the same output (run times masked) and the same files received by
# the emulated cartridge; then they check the essentials on their own, so
# that a fault shared by both builds is caught too.
set -uo pipefail
: "${VEXLO_WINE_ARCH:?}" "${VEXLO_WINDOWS_DIR:?}" "${VEXLO_WORK:?}" "${VEXLO_WINE:?}" "${WINEPREFIX:?}"
scenario=${1:?scenario}

# The 32-bit programs run in the 32-bit wine of tools/wine32-setup.
case "$VEXLO_WINE_ARCH" in
  win64) wine=$VEXLO_WINE ;;
  win32) wine=${VEXLO_WINE32_ROOT:?}/wine32 ;;
  *) echo "wine-test.sh: VEXLO_WINE_ARCH is '$VEXLO_WINE_ARCH', not win32 or win64" >&2; exit 1 ;;
esac

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
    cp "$VEXLO_WINDOWS_DIR/bin/$program.exe" "$VEXLO_WORK/run/" || fail "no $program.exe in the cross build"
  done
  if [ "$withDriver" = yes ]; then
    cp "$VEXLO_WINDOWS_DIR/emulator/Ftd2xx.dll" "$VEXLO_WORK/run/" || fail "no Ftd2xx.dll in the cross build"
  fi
  cd "$VEXLO_WORK/run" || fail "cannot enter $VEXLO_WORK/run"
}

# Runs PROGRAM ARGS natively in $VEXLO_WORK/linux and under wine in
# $VEXLO_WORK/run, each with a copy of $VEXLO_WORK/inputs, the emulator as
# driver and VEXLO_EMULATOR="out=out;<settings>", and compares the two runs.
run_both() {  # run_both SETTINGS PROGRAM ARGS...
  local settings=$1 program=$2; shift 2
  : "${VEXLO_NATIVE_BIN:?}" "${VEXLO_NATIVE_EMULATOR_DIR:?}"
  mkdir -p "$VEXLO_WORK/linux"
  cp -R "$VEXLO_WORK/inputs/." "$VEXLO_WORK/linux/"
  cp -R "$VEXLO_WORK/inputs/." "$VEXLO_WORK/run/"

  (cd "$VEXLO_WORK/linux" &&
    VEXLO_EMULATOR="out=out;$settings" LD_LIBRARY_PATH="$VEXLO_NATIVE_EMULATOR_DIR" \
      timeout -k 5 "$runSeconds" "$VEXLO_NATIVE_BIN/$program" "$@" < "$input" > stdout.txt 2> stderr.txt)
  nativeStatus=$?
  [ "$nativeStatus" -ne 124 ] && [ "$nativeStatus" -ne 137 ] || fail "native $program did not finish"

  VEXLO_EMULATOR="out=out;$settings" run "$program.exe" "$@"
  expect_status "$nativeStatus" "$status"
  mask_times "$VEXLO_WORK/linux/stdout.txt" > "$VEXLO_WORK/native-stdout.txt"
  mask_times "$VEXLO_WORK/stdout.txt" > "$VEXLO_WORK/wine-stdout.txt"
  expect_file "stdout (native vs wine)" "$VEXLO_WORK/native-stdout.txt" "$VEXLO_WORK/wine-stdout.txt"
  expect_file "stderr (native vs wine)" "$VEXLO_WORK/linux/stderr.txt" "$VEXLO_WORK/stderr.txt"
  # The log and the summary count pin traffic that depends on the clock.
  diff -r -x emulator.log -x summary.txt "$VEXLO_WORK/linux/out" "$VEXLO_WORK/run/out" >&2 ||
    fail "the cartridge received different files natively and under wine"
}

mask_times() {
  sed -E 's/Time to execute [0-9]+\.[0-9]{2}/Time to execute T/' "$1"
}

# Sample files whose bytes a text-mode read would change: CR LF pairs, a
# lone CR and Ctrl-Z, which ends a text-mode read on Windows.
sample_file() {  # sample_file PATH COUNT TAG
  { printf '%s\r\n\032\n\r\000\377' "$3"; seq 1 "$2"; } > "$1"
}

# Runs a program to its end, within $runSeconds; stdin comes from the file
# named in $input.
input=/dev/null
runSeconds=90
run() {  # run PROGRAM ARGS... ; sets $status
  timeout -k 5 "$runSeconds" "$wine" "$@" < "$input" > "$VEXLO_WORK/stdout.txt" 2> "$VEXLO_WORK/stderr.txt"
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

# The line on standard error behind "Error: Can't Load Ftd2xx.dll": what
# to do about it (126: the DLL was not found).
load_note="Error: the driver library Ftd2xx.dll could not be loaded (Windows error 126). Install FTDI's D2XX driver, or, to try the programs without a cartridge, copy the emulator's Ftd2xx.dll from the ZIP's emulator folder beside the program (see WINDOWS.md).
"

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
    expect_text stderr "$load_note" "$VEXLO_WORK/stderr.txt"
    ;;

  updater-no-driver)
    # The updater binds while its globals are constructed, before main: that
    # message too must come out without a carriage return.
    prepare no VexloFPGAUpdate
    printf '\n' > "$VEXLO_WORK/return.txt"
    input="$VEXLO_WORK/return.txt"
    run VexloFPGAUpdate.exe
    expect_status 1 "$status"
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
    expect_text stderr "${load_note}Unable to option Vexlo cartridge.
" "$VEXLO_WORK/stderr.txt"
    ;;

  command-lines)
    # Help, version and a mistyped option, before anything is opened; the
    # additions go to standard error, behind the note on the load error.
    prepare no Vexlo VexloFPGAUpdate
    run Vexlo.exe --version
    expect_status 0 "$status"
    expect_text stdout "Error: Can't Load Ftd2xx.dll
Vexlo 0.51
" "$VEXLO_WORK/stdout.txt"
    expect_text stderr "$load_note" "$VEXLO_WORK/stderr.txt"
    run Vexlo.exe --uc fw.bin
    expect_status 255 "$status"
    expect_text stdout "Error: Can't Load Ftd2xx.dll
" "$VEXLO_WORK/stdout.txt"
    expect_text stderr "${load_note}"'Vexlo: unknown option "--uc"; run Vexlo without arguments to see the help.
' "$VEXLO_WORK/stderr.txt"
    run VexloFPGAUpdate.exe --version
    expect_status 0 "$status"
    expect_text stdout "Error: Can't Load Ftd2xx.dll
VexloFPGAUpdate 1.0
" "$VEXLO_WORK/stdout.txt"
    run VexloFPGAUpdate.exe -x
    expect_status 2 "$status"
    expect_text stderr "${load_note}"'VexloFPGAUpdate: unknown option "-x"; usage: VexloFPGAUpdate [-h | --help | --version | FILE.xsvf]
' "$VEXLO_WORK/stderr.txt"
    ;;

  vexlo-upload)
    # Firmware, debugger, program with a command string, and data, each
    # received byte for byte.
    prepare yes Vexlo
    mkdir -p "$VEXLO_WORK/inputs"
    sample_file "$VEXLO_WORK/inputs/fw.bin" 5000 F      # over 16 KB: only 16 KB are sent
    sample_file "$VEXLO_WORK/inputs/dbg.prg" 600 D
    sample_file "$VEXLO_WORK/inputs/prog.prg" 2000 P
    sample_file "$VEXLO_WORK/inputs/data.bin" 20 X
    run_both "" Vexlo -uc fw.bin -dbg dbg.prg -prg prog.prg -cmd g -data data.bin
    expect_status 0 "$status"
    expect_text stdout "Uploading firmare fw.bin.
Uploading prg-file dbg.prg.
Uploading prg-file prog.prg.
Uploading data data.bin.
Time to execute T

" "$VEXLO_WORK/wine-stdout.txt"
    head -c 16384 "$VEXLO_WORK/inputs/fw.bin" > "$VEXLO_WORK/fw-16k.bin"
    expect_file "received firmware" "$VEXLO_WORK/fw-16k.bin" out/firmware.bin
    expect_file "received data" "$VEXLO_WORK/inputs/data.bin" out/data.bin
    # The program stream: 64-byte header with the command string, then the file.
    { printf 'le:g'; head -c 60 /dev/zero; cat "$VEXLO_WORK/inputs/prog.prg"; } > "$VEXLO_WORK/prog-start.bin"
    head -c "$(stat -c %s "$VEXLO_WORK/prog-start.bin")" out/prg-2.bin > "$VEXLO_WORK/prog-received.bin"
    expect_file "received program" "$VEXLO_WORK/prog-start.bin" "$VEXLO_WORK/prog-received.bin"
    ;;

  vexlo-unicode-paths)
    # Option values with spaces and letters outside any ANSI code page reach
    # fopen intact (the manifest's UTF-8 code page), and are printed as given.
    prepare yes Vexlo
    folder="Prüfung данные"
    mkdir -p "$VEXLO_WORK/inputs/$folder"
    sample_file "$VEXLO_WORK/inputs/$folder/fw λ é.bin" 100 F
    sample_file "$VEXLO_WORK/inputs/$folder/data ü 日本.bin" 20 X
    run_both "" Vexlo -uc "$folder/fw λ é.bin" -data "$folder/data ü 日本.bin"
    expect_status 0 "$status"
    expect_text stdout "Uploading firmare $folder/fw λ é.bin.
Uploading data $folder/data ü 日本.bin.
Time to execute T

" "$VEXLO_WORK/wine-stdout.txt"
    expect_file "received data" "$VEXLO_WORK/inputs/$folder/data ü 日本.bin" out/data.bin
    ;;

  vexlo-drive-image)
    # The emulated Atari lists the disk and reads every file back through
    # the server's sector replies; the emulator ends the process when done.
    command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null ||
      { echo "mkfs.fat or mcopy missing: skipped"; exit 77; }
    prepare yes Vexlo
    mkdir -p "$VEXLO_WORK/files/SUB" "$VEXLO_WORK/inputs"
    sample_file "$VEXLO_WORK/files/HELLO.TXT" 10 H
    sample_file "$VEXLO_WORK/files/SUB/BIG.BIN" 30000 B
    "$VEXLO_SOURCE_DIR/tools/make-atari-image" --size-mb 4 "$VEXLO_WORK/inputs/atari disk é.img" \
      "$VEXLO_WORK/files" > /dev/null || fail "make-atari-image failed"
    run_both "atari=list;readall" Vexlo -drvimg "atari disk é.img"
    expect_status 0 "$status"
    grep -q "^read sector 0 boot $" "$VEXLO_WORK/stdout.txt" || fail "no boot sector request served"
    diff -r "$VEXLO_WORK/files" out/atari >&2 || fail "the Atari read different files"
    ;;

  vexlo-drive-image-created|vexlo-drive-image-folder)
    # vexlo-image's layout served from a file it wrote, and from a folder
    # built in memory by Vexlo itself; the emulated Atari reads every file
    # back. The folder's name and one file's name are not ASCII, and that
    # file's name is not 8.3 either.
    prepare yes Vexlo
    folder="atari files é"
    mkdir -p "$VEXLO_WORK/inputs/$folder/SUB"
    sample_file "$VEXLO_WORK/inputs/$folder/HELLO.TXT" 10 H
    sample_file "$VEXLO_WORK/inputs/$folder/SUB/BIG.BIN" 30000 B
    sample_file "$VEXLO_WORK/inputs/$folder/Long Name é.text" 50 L
    cp -R "$VEXLO_WORK/inputs/$folder" "$VEXLO_WORK/expected"
    mv "$VEXLO_WORK/expected/Long Name é.text" "$VEXLO_WORK/expected/LONGNAME.TEX"
    if [ "$scenario" = vexlo-drive-image-created ]; then
      "$VEXLO_NATIVE_BIN/vexlo-image" create "$VEXLO_WORK/inputs/created é.img" "$VEXLO_WORK/inputs/$folder" \
        > "$VEXLO_WORK/create.txt" || fail "vexlo-image create failed"
      grep -qx "8.3 name: Long Name é.text -> LONGNAME.TEX" "$VEXLO_WORK/create.txt" ||
        { cat "$VEXLO_WORK/create.txt" >&2; fail "the 8.3 mapping was not printed"; }
      run_both "atari=list;readall" Vexlo -drvimg "created é.img"
    else
      run_both "atari=list;readall" Vexlo -drvimg "$folder"
      head -n 1 "$VEXLO_WORK/wine-stdout.txt" > "$VEXLO_WORK/first-line.txt"
      expect_text "first line" "drive image built in memory from folder $folder: 8192 KB, 1 names mapped to 8.3
" "$VEXLO_WORK/first-line.txt"
    fi
    expect_status 0 "$status"
    grep -q "^read sector 0 boot $" "$VEXLO_WORK/stdout.txt" || fail "no boot sector request served"
    diff -r "$VEXLO_WORK/expected" out/atari >&2 || fail "the Atari read different files"
    ;;

  image-tool)
    # vexlo-image.exe makes the same image as the native build from the same
    # files, lists it the same, reads a file back byte for byte (to standard
    # output too, where a text-mode stream would change it), and keeps an
    # existing image.
    prepare no vexlo-image
    mkdir -p "$VEXLO_WORK/files/SUB" "$VEXLO_WORK/native"
    sample_file "$VEXLO_WORK/files/HELLO.TXT" 10 H
    sample_file "$VEXLO_WORK/files/SUB/BIG.BIN" 30000 B
    sample_file "$VEXLO_WORK/files/Long Name é.text" 50 L
    touch -d "2024-02-29 12:34:56" "$VEXLO_WORK/files" "$VEXLO_WORK/files/SUB" "$VEXLO_WORK/files"/* \
      "$VEXLO_WORK/files/SUB"/*
    native() {  # native ARGS... : the native vexlo-image in $VEXLO_WORK/native
      (cd "$VEXLO_WORK/native" && "$VEXLO_NATIVE_BIN/vexlo-image" "$@" > stdout.txt 2> stderr.txt)
      nativeStatus=$?
    }
    native create disk.img ../files --size-mb 4 --label WINE
    run vexlo-image.exe create disk.img ../files --size-mb 4 --label WINE
    expect_status "$nativeStatus" "$status"
    expect_status 0 "$status"
    expect_file "create output (native vs wine)" "$VEXLO_WORK/native/stdout.txt" "$VEXLO_WORK/stdout.txt"
    expect_file "image (native vs wine)" "$VEXLO_WORK/native/disk.img" disk.img
    for command in ls info; do
      native "$command" disk.img
      run vexlo-image.exe "$command" disk.img
      expect_status 0 "$status"
      expect_file "$command output (native vs wine)" "$VEXLO_WORK/native/stdout.txt" "$VEXLO_WORK/stdout.txt"
    done
    run vexlo-image.exe get disk.img /SUB/BIG.BIN big.bin
    expect_status 0 "$status"
    expect_file "file got back" "$VEXLO_WORK/files/SUB/BIG.BIN" big.bin
    run vexlo-image.exe get disk.img /LONGNAME.TEX -
    expect_status 0 "$status"
    expect_file "file got back to standard output" "$VEXLO_WORK/files/Long Name é.text" "$VEXLO_WORK/stdout.txt"
    run vexlo-image.exe create disk.img ../files
    expect_status 1 "$status"
    expect_text stderr "vexlo-image: disk.img exists; give --force to overwrite it
" "$VEXLO_WORK/stderr.txt"
    expect_file "image kept" "$VEXLO_WORK/native/disk.img" disk.img
    ;;

  updater-xsvf)
    # A short XSVF that uses every command, played through the JTAG model.
    prepare yes VexloFPGAUpdate
    mkdir -p "$VEXLO_WORK/inputs"
    "$VEXLO_NATIVE_BIN/vexlo-xsvf" build "$VEXLO_SOURCE_DIR/emulator/samples/top.xsvf.txt" \
      "$VEXLO_WORK/inputs/top.xsvf" || fail "cannot assemble the sample XSVF"
    printf '\n' > "$VEXLO_WORK/return.txt"
    input="$VEXLO_WORK/return.txt"
    run_both "" VexloFPGAUpdate
    expect_status 0 "$status"
    tail -n 3 "$VEXLO_WORK/wine-stdout.txt" > "$VEXLO_WORK/wine-end.txt"
    expect_text "end of stdout" "Erasing prom (15s)
Completed FPGA update.            
Time to execute T
" "$VEXLO_WORK/wine-end.txt"
    scans() { grep -E "JTAG (IR|DR) scan,|JTAG IDCODE read:" "$1"; }
    scans "$VEXLO_WORK/linux/out/emulator.log" > "$VEXLO_WORK/native-scans.txt"
    scans out/emulator.log > "$VEXLO_WORK/wine-scans.txt"
    expect_file "JTAG scans (native vs wine)" "$VEXLO_WORK/native-scans.txt" "$VEXLO_WORK/wine-scans.txt"
    grep -q "JTAG IDCODE read: 0x" out/emulator.log || fail "the IDCODE was not read"
    ;;

  updater-corpus)
    # Every corpus file, its masks zeroed (the JTAG model has no programmed
    # chip to verify against), plays to completion with the same scans as
    # the native updater's: real vendor files with long waits, so each run
    # takes tens of seconds.
    prepare yes VexloFPGAUpdate
    printf '\n' > "$VEXLO_WORK/return.txt"
    input="$VEXLO_WORK/return.txt"
    runSeconds=240
    played=0
    for corpusFile in "${VEXLO_CORPUS_DIR:-}"/xsvf/*.xsvf; do
      [ -f "$corpusFile" ] || continue
      name=$(basename "$corpusFile")
      rm -rf "$VEXLO_WORK/inputs" "$VEXLO_WORK/linux" out
      mkdir -p "$VEXLO_WORK/inputs"
      "$VEXLO_NATIVE_BIN/vexlo-xsvf" zero-masks "$corpusFile" "$VEXLO_WORK/inputs/top.xsvf" ||
        fail "cannot zero the masks of $name"
      run_both "" VexloFPGAUpdate
      expect_status 0 "$status"
      grep -q "Completed FPGA update." "$VEXLO_WORK/wine-stdout.txt" || { show_output; fail "$name: no completed update"; }
      scans() { grep -E "JTAG (IR|DR) scan,|JTAG IDCODE read:" "$1"; }
      scans "$VEXLO_WORK/linux/out/emulator.log" > "$VEXLO_WORK/native-scans.txt"
      scans out/emulator.log > "$VEXLO_WORK/wine-scans.txt"
      expect_file "$name: JTAG scans (native vs wine)" "$VEXLO_WORK/native-scans.txt" "$VEXLO_WORK/wine-scans.txt"
      [ -s "$VEXLO_WORK/wine-scans.txt" ] || fail "$name: no JTAG scans"
      echo "played $name"
      played=$((played + 1))
    done
    if [ "$played" -eq 0 ]; then
      [ "${VEXLO_REQUIRE_CORPUS:-OFF}" = ON ] && fail "no XSVF files in the corpus at '${VEXLO_CORPUS_DIR:-}'"
      echo "no corpus: skipped"; exit 77
    fi
    ;;

  xsvf-tool)
    # vexlo-xsvf.exe lists the sample and every corpus file as the native
    # tool does, to standard output too (where a text-mode stream would add
    # carriage returns), builds its own listing back into the same bytes,
    # zeroes the masks alike, and reports a cut-off file alike.
    prepare no vexlo-xsvf
    mkdir -p "$VEXLO_WORK/native"
    "$VEXLO_NATIVE_BIN/vexlo-xsvf" build "$VEXLO_SOURCE_DIR/emulator/samples/top.xsvf.txt" top.xsvf ||
      fail "cannot assemble the sample XSVF"
    files=(top.xsvf)
    for corpusFile in "${VEXLO_CORPUS_DIR:-}"/xsvf/*.xsvf; do
      [ -f "$corpusFile" ] || continue
      cp "$corpusFile" . && files+=("$(basename "$corpusFile")")
    done
    if [ ${#files[@]} -eq 1 ] && [ "${VEXLO_REQUIRE_CORPUS:-OFF}" = ON ]; then
      fail "no XSVF files in the corpus at '${VEXLO_CORPUS_DIR:-}'"
    fi
    head -c 100 top.xsvf > cut.xsvf
    native() {  # native ARGS... : the native xsvf tool, run in the same folder
      "$VEXLO_NATIVE_BIN/vexlo-xsvf" "$@" > "$VEXLO_WORK/native/stdout.txt" 2> "$VEXLO_WORK/native/stderr.txt"
      nativeStatus=$?
    }
    for file in "${files[@]}"; do
      native list "$file"
      run vexlo-xsvf.exe list "$file"
      expect_status 0 "$status"
      expect_file "listing of $file (native vs wine)" "$VEXLO_WORK/native/stdout.txt" "$VEXLO_WORK/stdout.txt"
      cp "$VEXLO_WORK/stdout.txt" listing.txt
      run vexlo-xsvf.exe build listing.txt again.xsvf
      expect_status 0 "$status"
      expect_file "$file listed and built again" "$file" again.xsvf
      native zero-masks "$file" "$VEXLO_WORK/native/zeroed.xsvf"
      run vexlo-xsvf.exe zero-masks "$file" zeroed.xsvf
      expect_status "$nativeStatus" "$status"
      expect_file "$file with zeroed masks (native vs wine)" "$VEXLO_WORK/native/zeroed.xsvf" zeroed.xsvf
    done
    native list cut.xsvf
    run vexlo-xsvf.exe list cut.xsvf
    expect_status "$nativeStatus" "$status"
    expect_file "listing of a cut-off file (native vs wine)" "$VEXLO_WORK/native/stdout.txt" "$VEXLO_WORK/stdout.txt"
    expect_file "error of a cut-off file (native vs wine)" "$VEXLO_WORK/native/stderr.txt" "$VEXLO_WORK/stderr.txt"
    echo "${#files[@]} files listed"
    ;;

  *)
    fail "unknown scenario"
    ;;
esac
echo "ok [$scenario]"
