#!/bin/bash
# check-bash-completion.sh COMPLETIONS-DIR: bash-completion finds a completion
# for each program in COMPLETIONS-DIR by the program's name (as it loads them
# on first use from .../bash-completion/completions), and completing a few
# command lines through it offers the options, sub-commands and files each
# program takes there.
set -u
dir=$(realpath "$1")
loader=${BASH_COMPLETION_SCRIPT:-/usr/share/bash-completion/bash_completion}
[ -f "$loader" ] || { echo "FAIL: no $loader (Debian package bash-completion)"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vexlo-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
# bash-completion looks in the user's folder first: the one under test.
mkdir -p "$work/user" "$work/files/sub"
ln -s "$dir" "$work/user/completions"
touch "$work/files"/{fw.bin,notes.txt,top.xsvf,other.xsvf}

export BASH_COMPLETION_USER_DIR=$work/user
cd "$work/files" || exit 1
# Runs in an interactive-like bash with bash-completion loaded.
# shellcheck disable=SC1090
source "$loader"
status=0

# complete_line LINE: what completing at the end of LINE offers, sorted.
complete_line() {
  local line=$1 spec func
  read -r -a COMP_WORDS <<< "$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line COMP_POINT=${#line}
  local cmd=${COMP_WORDS[0]}
  complete -p "$cmd" > /dev/null 2>&1 || __load_completion "$cmd" ||
    { echo "(no completion for $cmd)"; return; }
  spec=$(complete -p "$cmd")
  [[ $spec =~ -F\ ([^ ]+) ]] || { echo "(no function: $spec)"; return; }
  func=${BASH_REMATCH[1]}
  COMPREPLY=()
  local prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  "$func" "$cmd" "${COMP_WORDS[COMP_CWORD]}" "$prev"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

for program in Vexlo VexloFPGAUpdate vexlo-image vexlo-xsvf vexlo-emulate; do
  [ -e "$dir/$program" ] || { echo "FAIL: no completion named $program in $dir"; status=1; }
done

# line | offered
while IFS='|' read -r line want; do
  got=$(complete_line "$line")
  [ "$got" = "$want" ] || { echo "FAIL '$line': offered '$got', expected '$want'"; status=1; }
done <<'CASES'
Vexlo -d|-data -dbg -drvimg
Vexlo --|--help --version
Vexlo -uc |fw.bin notes.txt other.xsvf sub top.xsvf
Vexlo -uc fw.bin -drvimg s|sub
Vexlo -cmd |
VexloFPGAUpdate -|--batch --help --version -h
VexloFPGAUpdate |other.xsvf sub top.xsvf
VexloFPGAUpdate top.xsvf |
vexlo-image |--help -h convert create get info ls
vexlo-image cr|create
vexlo-image co|convert
vexlo-image convert disk.img |fw.bin notes.txt other.xsvf sub top.xsvf
vexlo-image convert disk.img new.img --to |plain served
vexlo-image convert disk.img new.img --to served --p|--partition
vexlo-image create disk.img --layout |plain served
vexlo-image create --s|--sector-size --size-kb --size-mb
vexlo-image create disk.img --sector-size |1024 2048 4096 512
vexlo-image create disk.img --label GAMES s|sub
vexlo-image create disk.img --size-mb |
vexlo-image info |fw.bin notes.txt other.xsvf sub top.xsvf
vexlo-image info disk.img |
vexlo-image get disk.img /A.TXT --f|--force
vexlo-xsvf |--help -h build list zero-masks
vexlo-xsvf z|zero-masks
vexlo-xsvf list |other.xsvf sub top.xsvf
vexlo-xsvf build notes.txt |other.xsvf sub top.xsvf
vexlo-xsvf zero-masks top.xsvf new.xsvf |
vexlo-emulate V|Vexlo VexloFPGAUpdate
vexlo-emulate VexloFPGAUpdate --v|--version
vexlo-emulate Vexlo -uc fw.bin -drv|-drvimg
CASES
[ $status -eq 0 ] && echo "bash completes the programs' words"
exit $status
