#!/usr/bin/env bash
# Every command in the ```sh blocks of the README and of the guides its
# commands moved to is run, so the documents cannot drift from the programs:
#   readme-commands.sh SOURCE-DIR BIN-DIR EMULATOR-DIR VEXLO-EMULATE
# A command is either run here, in a copy of the folder layout the documents
# assume (the repository root, build/bin, build/demo as tools/demo leaves it,
# and the installed programs on PATH), or the table below names the script or
# test that runs it and a text that must stand in that file. A command the
# table does not know fails this test: add its row.
set -uo pipefail
source_dir=${1:?source dir}
bin_dir=${2:?bin dir}
emulator_dir=${3:?emulator dir}
vexlo_emulate=${4:?configured vexlo-emulate}

# The documents whose commands are checked: the README and the guides that
# hold what moved out of it (both views of the README: the checkout's and the
# installed copy's, which is the README without its checkout-only parts).
documents=(README.md docs/VEXLO.md docs/IMAGES.md docs/FPGAUPDATE.md docs/INSTALL.md docs/TESTING.md)

# PATTERN (a shell pattern over the whole command) TAB WHERE:
#   here              run by this script
#   FILE: TEXT        run by FILE (relative to the source folder), which holds TEXT
#   exists: FILE      needs root on a real system; FILE must exist
# The install commands act on the packages and the system: they are run, as a
# user runs them, on the packages by tools/package-test (stage "packages" of
# tools/run-tests). The installed programs' commands (a day's work on the
# cartridge) run here on the emulator, whose Atari reads the served disk and
# so ends a -drvimg run.
coverage=$(cat <<'TABLE'
tools/demo	tools/demo: tools/install-deps demo
tools/run-tests	.ci/run: tools/run-tests
tools/run-tests quick	tools/run-tests: ctest --test-dir build/quick -L unit
cd build/demo/run	here
LD_LIBRARY_PATH=../emulator VEXLO_EMULATOR=* ../bin/Vexlo *	here
cat my-cart/*	here
cmake -S . -B build -G Ninja	tools/run-tests: cmake -S . -B build/ci -G Ninja
cmake --build build	tools/run-tests: cmake --build build/ci
build/bin/vexlo-image *	here
build/bin/vexlo-xsvf list top.xsvf > top.txt	here
sed -n '*p' top.txt	here
sudo cp tools/linux/70-vexlo-cartridge.rules /etc/udev/rules.d/	exists: tools/linux/70-vexlo-cartridge.rules
sudo udevadm control --reload-rules	exists: tools/linux/70-vexlo-cartridge.rules
tools/windows-build	tools/run-tests: tools/windows-build
ctest --test-dir build/ci -L *	tools/run-tests: ctest --test-dir build/ci
tools/package	tools/package-test: tools/package" --builds
sudo apt install ./build/packages/vexlo_*.deb	tools/package-test: apt-get install --simulate
man Vexlo	tools/package-test: man --warnings "$name"
vexlo-emulate Vexlo -uc firmware.bin	tools/package-test: vexlo-emulate" Vexlo -uc
Vexlo -uc firmware.bin	tools/package-test: "$bin/Vexlo" -uc
export LD_LIBRARY_PATH=/usr/local/lib	tools/package-test: LD_LIBRARY_PATH="$run/elsewhere"
cmake -S . -B build -G Ninja && cmake --build build	tools/package-test: cmake --build "$src/build"
sudo cmake --install build	tools/package-test: cmake --install "$src/build" --prefix
cmake --install build --prefix ~/.local	tools/package-test: cmake --install "$src/build" --prefix
vexlo-image *	here
Vexlo *	here
VexloFPGAUpdate	here
vexlo-emulate Vexlo *	here
vexlo-emulate VexloFPGAUpdate	here
export VEXLO_EMULATOR=*	here
TABLE
)

fail=0
problem() { echo "FAIL: $*" >&2; fail=1; }

# The commands, one per line as "DOCUMENT:BLOCK<TAB>COMMAND": continuation
# lines joined, comments and blank lines dropped.
commands=""
for document in "${documents[@]}"; do
  [ -f "$source_dir/$document" ] || { problem "$document is missing"; continue; }
  commands+=$(awk -v document="$document" '
  /^[ \t]*```sh[ \t]*$/ { inside = 1; block++; next }
  /^[ \t]*```/ { inside = 0; next }
  inside {
    line = $0
    sub(/^[ \t]+/, "", line)
    if (pending != "") { line = pending " " line; pending = "" }
    if (line ~ /\\$/) { sub(/[ \t]*\\$/, "", line); pending = line; next }
    sub(/[ \t]+#.*$/, "", line)
    sub(/[ \t]+$/, "", line)
    gsub(/[ \t]+/, " ", line)
    if (line != "") print document ":" block "\t" line
  }' "$source_dir/$document")$'\n'
done
commands=$(printf '%s' "$commands" | sed '/^$/d')
printf '%s\n' "$commands" | grep -q '^README\.md:' || problem "no command blocks found in README.md"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The installed layout, made of links into the build: the programs under
# their installed names beside the configured launcher, which finds the
# emulator as it does below a prefix.
prefix=$work/prefix
mkdir -p "$prefix/bin" "$prefix/lib/vexlo"
for program in Vexlo VexloFPGAUpdate vexlo-image vexlo-xsvf; do ln -s "$bin_dir/$program" "$prefix/bin/$program"; done
install -m 755 "$vexlo_emulate" "$prefix/bin/vexlo-emulate"  # as cmake --install puts it
ln -s "$emulator_dir" "$prefix/lib/vexlo/emulator"
"$bin_dir/vexlo-xsvf" build "$source_dir/emulator/samples/top.xsvf.txt" "$work/top.xsvf" ||
  problem "cannot assemble the sample XSVF"

# The folder a document's commands assume, one for each document: the
# repository root with build/bin, build/demo as tools/demo leaves it, and
# what a day's work names (firmware, debugger, program, a folder of Atari
# files for vexlo-image, top.xsvf).
make_folder() {  # make_folder DIR
  mkdir -p "$1/build/demo/run"
  ln -s "$bin_dir" "$1/build/demo/bin"
  ln -s "$bin_dir" "$1/build/bin"
  ln -s "$emulator_dir" "$1/build/demo/emulator"
  head -c 16384 /dev/urandom > "$1/build/demo/run/firmware.bin"
  cp "$1/build/demo/run/firmware.bin" "$1/"
  printf 'debugger\r\n\032' > "$1/BUGABOO.PRG"
  printf 'program\r\n\032' > "$1/GAME.PRG"
  mkdir -p "$1/my-atari-files/GAMES"
  printf 'Nothing to play yet.\r\n' > "$1/my-atari-files/GAMES/LIST.TXT"
  head -c 100000 /dev/urandom > "$1/my-atari-files/PICTURE.BIN"
  cp "$work/top.xsvf" "$1/"
}

declare -A here_blocks=()
here_order=()
while IFS=$'\t' read -r block command; do
  where=""
  while IFS=$'\t' read -r pattern how; do
    # shellcheck disable=SC2053  # the pattern is meant as a pattern
    if [[ "$command" == $pattern ]]; then where=$how; break; fi
  done <<< "$coverage"
  case "$where" in
    "") problem "${block%:*} command not run by any test or tools/demo: $command" ;;
    here)
      [ -n "${here_blocks[$block]+set}" ] || here_order+=("$block")
      here_blocks[$block]+="$command"$'\n' ;;
    exists:*)
      file=${where#exists: }
      [ -e "$source_dir/$file" ] || problem "$command: $file is missing" ;;
    *)
      file=${where%%: *}
      text=${where#*: }
      grep -qF -- "$text" "$source_dir/$file" 2>/dev/null ||
        problem "$command: $file no longer runs it (no \"$text\" in it)" ;;
  esac
done <<< "$commands"

# Each block runs as its document shows it, from the repository root of
# that document's folder, in document order (a later block may use what an
# earlier one made). The installed programs are on PATH and load the
# emulator, which answers as a cartridge would; the updater's Return comes
# from the empty standard input.
n=0
declare -A folder_of=()
for block in "${here_order[@]}"; do
  n=$((n + 1))
  document=${block%:*}
  if [ -z "${folder_of[$document]+set}" ]; then
    folder_of[$document]=$work/folder-$n
    make_folder "${folder_of[$document]}"
  fi
  folder=${folder_of[$document]}
  printf '%s' "${here_blocks[$block]}" > "$work/block-$n.sh"
  if ! (cd "$folder" && PATH="$prefix/bin:$PATH" LD_LIBRARY_PATH="$emulator_dir" \
          VEXLO_EMULATOR="atari=list;readall" timeout -k 5 120 bash -e "$work/block-$n.sh" < /dev/null) \
       > "$work/block-$n.out" 2>&1; then
    cat "$work/block-$n.sh" "$work/block-$n.out" >&2
    problem "$block: the block failed"
  fi
done

[ "$fail" -eq 0 ] || exit 1
echo "ok: $(printf '%s\n' "$commands" | wc -l) commands of ${#documents[@]} documents covered"
