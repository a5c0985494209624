#!/usr/bin/env bash
# Every command in the README's ```sh blocks is run, so the README cannot
# drift from the programs:
#   readme-commands.sh SOURCE-DIR BIN-DIR EMULATOR-DIR
# A command is either run here, in a copy of the folder layout the README
# assumes (the repository root, build/bin, and build/demo as tools/demo
# leaves it), or the table below names the script or test that runs it and a
# text that must stand in that file. A command the table does not know fails
# this test: add its row.
set -uo pipefail
source_dir=${1:?source dir}
bin_dir=${2:?bin dir}
emulator_dir=${3:?emulator dir}

# PATTERN (a shell pattern over the whole command) TAB WHERE:
#   here              run by this script
#   FILE: TEXT        run by FILE (relative to the source folder), which holds TEXT
#   exists: FILE      needs root on a real system; FILE must exist
# The Install section's commands act on the packages and the system: they are
# run, as a user runs them, on the packages by tools/package-test (stage
# "packages" of tools/run-tests).
coverage=$(cat <<'TABLE'
tools/demo	tools/demo: tools/install-deps demo
tools/run-tests	.ci/run: tools/run-tests
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
TABLE
)

fail=0
problem() { echo "FAIL: $*" >&2; fail=1; }

# The commands, one per line as "BLOCK<TAB>COMMAND": continuation lines
# joined, comments and blank lines dropped.
commands=$(awk '
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
    if (line != "") print block "\t" line
  }' "$source_dir/README.md")
[ -n "$commands" ] || problem "no command blocks found in README.md"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The layout after tools/demo: programs, emulator and the demo's samples;
# and a folder of Atari files for vexlo-image.
mkdir -p "$work/build/demo/run"
ln -s "$bin_dir" "$work/build/demo/bin"
ln -s "$bin_dir" "$work/build/bin"
ln -s "$emulator_dir" "$work/build/demo/emulator"
head -c 16384 /dev/urandom > "$work/build/demo/run/firmware.bin"
mkdir -p "$work/my-atari-files/GAMES"
printf 'Nothing to play yet.\r\n' > "$work/my-atari-files/GAMES/LIST.TXT"
head -c 100000 /dev/urandom > "$work/my-atari-files/PICTURE.BIN"
"$bin_dir/vexlo-xsvf" build "$source_dir/emulator/samples/top.xsvf.txt" "$work/top.xsvf" ||
  problem "cannot assemble the sample XSVF"

declare -A here_blocks=()
while IFS=$'\t' read -r block command; do
  where=""
  while IFS=$'\t' read -r pattern how; do
    # shellcheck disable=SC2053  # the pattern is meant as a pattern
    if [[ "$command" == $pattern ]]; then where=$how; break; fi
  done <<< "$coverage"
  case "$where" in
    "") problem "README command not run by any test or tools/demo: $command" ;;
    here) here_blocks[$block]+="$command"$'\n' ;;
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

# Each block runs as the README shows it, from the repository root.
for block in $(printf '%s\n' "${!here_blocks[@]}" | sort -n); do
  printf '%s' "${here_blocks[$block]}" > "$work/block-$block.sh"
  if ! (cd "$work" && bash -e "$work/block-$block.sh") > "$work/block-$block.out" 2>&1; then
    cat "$work/block-$block.sh" "$work/block-$block.out" >&2
    problem "README block $block failed"
  fi
done

[ "$fail" -eq 0 ] || exit 1
echo "ok: $(printf '%s\n' "$commands" | wc -l) README commands covered"
