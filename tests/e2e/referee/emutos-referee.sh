#!/usr/bin/env bash
# A real Atari operating system as the referee of our disks: EmuTOS, booted
# in hatari by tools/emutos-readback, reads a plain image back and must find
# exactly the files it was made from, with the Dfree figures its boot sector
# promises.
#   emutos-referee.sh CASE SOURCE_DIR BIN_DIR EMULATOR_DIR READBACK.TOS ROM WORK_DIR
# The cases are the table in run_case below (create-LAYOUT-SECTOR-SIZE and
# create-LAYOUT-many are every geometry vexlo-image create makes, read back
# after convert --to plain or made with --layout plain); a failing case keeps its work
# folder (WORK_DIR/CASE).
set -uo pipefail

case_name=${1:?case}
src=${2:?source dir}
bin=${3:?bin dir}
emulator=${4:?emulator dir}
program=${5:?READBACK.TOS}
rom=${6:?EmuTOS ROM}
work=${7:?work dir}/$case_name

rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL [$case_name] $*" >&2; exit 1; }

# The files every case puts on its disk: 8.3 upper-case names (as the Atari
# shows them), sub-folders, an empty file and folder, every byte value, a
# file of many clusters, and a marker the damage cases find in the image.
tree=$work/files
mkdir -p "$tree/GAMES/LEVELS" "$tree/EMPTYDIR"
printf 'Read by a real Atari operating system.\r\n' >"$tree/README.TXT"
: >"$tree/EMPTY.DAT"
for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done >"$tree/ALLBYTES.BIN"
{ printf 'REFEREE-MARKER-'; head -c 3000 /dev/urandom; } >"$tree/GAMES/MARKER.BIN"
head -c 70000 /dev/urandom >"$tree/GAMES/LEVELS/BIG.BIN"
printf 'LEVEL 1\r\nLEVEL 2\r\n' >"$tree/GAMES/LIST.TXT"

# Hundreds of files in deep folders under host names that the image tool maps
# to 8.3 (lower case, long, blanks, a clash), and, beside it, the tree as the
# Atari must show it.
many_tree() {
  local host=$1 atari=$2 d i dir adir
  mkdir -p "$host" "$atari"
  for d in 1 2 3 4 5 6; do
    dir=$host; adir=$atari
    for i in $(seq 1 "$d"); do dir+=/level$i; adir+=/LEVEL$i; done
    mkdir -p "$dir" "$adir"
    for i in $(seq -w 1 60); do
      head -c $(( (d * 997 + 10#$i * 131) % 5000 )) /dev/urandom >"$dir/file$i.bin"
      cp "$dir/file$i.bin" "$adir/FILE$i.BIN"
      printf 'notes %s %s\r\n' "$d" "$i" >"$dir/n${i}long name.text"
      cp "$dir/n${i}long name.text" "$adir/N${i}LONGN.TEX"
    done
  done
  printf 'june\r\n' >"$host/report for june.txt"; cp "$host/report for june.txt" "$atari/REPORTFO.TXT"
  printf 'may\r\n' >"$host/report for may.txt"; cp "$host/report for may.txt" "$atari/REPORT~1.TXT"
}

le16() { od -An -v -tu2 --endian=little -j "$2" -N 2 "$1" | tr -d ' '; }
be32() { od -An -v -tu4 --endian=big -j "$2" -N 4 "$1" | tr -d ' '; }
byte() { od -An -v -tu1 -j "$2" -N 1 "$1" | tr -d ' '; }
put_bytes() {  # file offset byte...
  local file=$1 offset=$2 text="" b
  shift 2
  for b in "$@"; do text+=$(printf '\\%03o' "$b"); done
  printf "$text" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}
# The word sum is put back to 0x1234 after a change, so that a damage case
# tests what it damages, not the sum (which EmuTOS ignores anyway).
fix_root_sum() {
  local sum=0 w
  for w in $(od -An -v -tu2 --endian=big -N 510 "$1"); do sum=$(( (sum + w) & 0xFFFF )); done
  local check=$(( (0x1234 - sum) & 0xFFFF ))
  put_bytes "$1" 510 $((check >> 8)) $((check & 255))
}

# Partition 0 of a plain image and its boot sector's figures.
read_bpb() {
  part=$(( $(be32 "$1" 458) * 512 ))
  bps=$(le16 "$1" $((part + 11))); spc=$(byte "$1" $((part + 13)))
  reserved=$(le16 "$1" $((part + 14))); fats=$(byte "$1" $((part + 16)))
  root_entries=$(le16 "$1" $((part + 17))); sectors=$(le16 "$1" $((part + 19)))
  spf=$(le16 "$1" $((part + 22)))
  data_start=$(( reserved + fats * spf + (root_entries * 32 + bps - 1) / bps ))
  clusters=$(( (sectors - data_start) / spc ))
}

# The referee's check: EmuTOS reads IMAGE, finds the tree byte for byte, and
# its Dfree shows the sector size, cluster size and cluster count of the
# image's own boot sector.
check() {
  local image=$1 out=$work/emutos
  "$src/tools/emutos-readback" --rom "$rom" --program "$program" --timeout 60 "$image" "$out" ||
    { echo "check: EmuTOS could not read $image"; return 1; }
  diff -r "$tree" "$out/tree" >"$work/diff.txt" 2>&1 ||
    { echo "check: EmuTOS read other files than the disk was made from:"; cat "$work/diff.txt"; return 1; }
  read_bpb "$image"
  local free total dfree_bps dfree_spc
  read -r free total dfree_bps dfree_spc <"$out/dfree"
  [ "$dfree_bps $dfree_spc $total" = "$bps $spc $clusters" ] ||
    { echo "check: Dfree says $dfree_bps-byte sectors, $dfree_spc per cluster, $total clusters;" \
           "the boot sector $bps, $spc, $clusters"; return 1; }
  echo "check: EmuTOS read $image back byte for byte (Dfree $free $total $dfree_bps $dfree_spc)"
}

# A check that must fail, and for the reason given.
check_fails() {
  local image=$1 reason=$2 said
  said=$(check "$image" 2>&1) && fail "the check passed on a damaged image: $said"
  grep -q -- "$reason" <<<"$said" || fail "the check failed, but not with \"$reason\": $said"
  echo "caught: $reason"
}

# Vexlo serves SERVED (an image file or a folder) to the emulated Atari,
# which dumps every sector it is served into a plain image.
serve_and_dump() {
  local served=$1 dump=$2
  LD_LIBRARY_PATH=$emulator VEXLO_EMULATOR="out=$work/cart;atari=dump:$dump" \
    timeout 120 "$bin/Vexlo" -drvimg "$served" >"$work/vexlo.out" 2>&1 ||
    { cat "$work/vexlo.out" >&2; fail "Vexlo -drvimg $served with the dump step failed (see $work/cart)"; }
}

# The dump holds the served window's partition bytes as they are.
same_as_served() {
  local dump=$1 served=$2 length
  length=$(( $(stat -c %s "$dump") - 1024 ))
  cmp -n "$length" "$dump" "$served" 1024 65127424 || fail "the dump differs from the partition of $served"
}

plain_image() {  # OUT [make-atari-image options]
  local out=$1
  shift
  "$src/tools/make-atari-image" --layout plain "$@" "$out" "$tree" >/dev/null || fail "make-atari-image failed"
}

# create-LAYOUT-SECTOR-SIZE / create-LAYOUT-many: LAYOUT convert (made served,
# then convert --to plain) or plain (create --layout plain); SIZE in MB, in
# KB with a "k" (the smallest a sector size allows), or "whole" (the window).
create_case() {
  local img=$1 rest=${case_name#create-} layout options=()
  layout=${rest%%-*}; rest=${rest#*-}
  local from=$tree
  if [ "$rest" = many ]; then
    many_tree "$work/host" "$work/atari"
    from=$work/host; tree=$work/atari
  else
    local size=${rest#*-}
    [ "$size" = whole ] && size=20
    if [ "${size%k}" != "$size" ]; then
      options=(--sector-size "${rest%%-*}" --size-kb "${size%k}")
    else
      options=(--sector-size "${rest%%-*}" --size-mb "$size")
    fi
  fi
  if [ "$layout" = convert ]; then
    "$bin/vexlo-image" create "$work/served.img" "$from" "${options[@]}" >/dev/null || fail "vexlo-image create failed"
    "$bin/vexlo-image" convert "$work/served.img" "$img" --to plain >/dev/null || fail "vexlo-image convert failed"
  else
    "$bin/vexlo-image" create "$img" "$from" "${options[@]}" --layout plain >/dev/null ||
      fail "vexlo-image create failed"
  fi
  check "$img"
}

run_case() {
  local img=$work/disk.img dump=$work/dump.img
  case "$case_name" in
    create-convert-*|create-plain-*)
      create_case "$img" ;;
    plain-512|plain-1024|plain-2048|plain-4096)
      plain_image "$img" --sector-size "${case_name#plain-}"
      check "$img" ;;
    plain-vexlo-image-convert)
      "$bin/vexlo-image" create "$work/served.img" "$tree" >/dev/null || fail "vexlo-image create failed"
      "$bin/vexlo-image" convert "$work/served.img" "$img" --to plain >/dev/null || fail "vexlo-image convert failed"
      check "$img" ;;
    plain-vexlo-image-create)
      "$bin/vexlo-image" create "$img" "$tree" --layout plain >/dev/null || fail "vexlo-image create failed"
      check "$img" ;;
    served-converted-plain)
      # The way in: an mkfs.fat -A disk in the ordinary layout, made servable.
      plain_image "$work/plain.img"
      "$bin/vexlo-image" convert "$work/plain.img" "$img" --to served >/dev/null || fail "vexlo-image convert failed"
      serve_and_dump "$img" "$dump"; same_as_served "$dump" "$img"; check "$dump" ;;
    served-vexlo-image)
      "$bin/vexlo-image" create "$img" "$tree" >/dev/null || fail "vexlo-image create failed"
      serve_and_dump "$img" "$dump"; same_as_served "$dump" "$img"; check "$dump" ;;
    served-big-partition)
      # From 16 MB on a "BGM" partition, with larger logical sectors.
      "$bin/vexlo-image" create "$img" "$tree" --size-mb 17 >/dev/null || fail "vexlo-image create failed"
      serve_and_dump "$img" "$dump"; same_as_served "$dump" "$img"
      [ "$(od -An -c -j 455 -N 3 "$dump" | tr -d ' ')" = BGM ] || fail "the dump of 17 MB is no BGM partition"
      check "$dump" ;;
    served-make-atari-image)
      "$src/tools/make-atari-image" "$img" "$tree" >/dev/null || fail "make-atari-image failed"
      serve_and_dump "$img" "$dump"; same_as_served "$dump" "$img"; check "$dump" ;;
    served-folder)
      serve_and_dump "$tree" "$dump"; check "$dump" ;;
    served-layout-unseen)
      # Why the dump exists: a served image's root sector points where its
      # file system is not, so an Atari shows no drive for it.
      "$bin/vexlo-image" create "$img" "$tree" >/dev/null || fail "vexlo-image create failed"
      check_fails "$img" "shows no drive C:" ;;
    damaged-data-byte)
      plain_image "$img"
      local at
      at=$(grep -obUaF 'REFEREE-MARKER-' "$img" | head -1 | cut -d: -f1)
      [ -n "$at" ] || fail "marker not found in $img"
      put_bytes "$img" $((at + 3)) $(( $(byte "$img" $((at + 3))) ^ 0x01 ))
      check_fails "$img" "other files than the disk was made from" ;;
    damaged-cut-chain)
      plain_image "$img" --fat 16
      read_bpb "$img"
      local entry cluster copy
      entry=$(grep -obUaF 'BIG     BIN' "$img" | head -1 | cut -d: -f1)
      [ -n "$entry" ] || fail "BIG.BIN's folder entry not found in $img"
      cluster=$(le16 "$img" $((entry + 26)))
      # BIG.BIN ends after its first cluster, in every FAT.
      for copy in $(seq 0 $((fats - 1))); do
        put_bytes "$img" $(( part + (reserved + copy * spf) * bps + cluster * 2 )) 255 255
      done
      check_fails "$img" "could not read all of" ;;
    damaged-moved-start)
      # One sector on, one sector shorter: the entry still fits the disk.
      plain_image "$img"
      local size
      size=$(be32 "$img" 462)
      put_bytes "$img" 458 0 0 0 3
      put_bytes "$img" 462 $(( (size - 1) >> 24 & 255 )) $(( (size - 1) >> 16 & 255 )) $(( (size - 1) >> 8 & 255 )) \
        $(( (size - 1) & 255 ))
      fix_root_sum "$img"
      check_fails "$img" "shows no drive C:" ;;
    *) fail "unknown case" ;;
  esac
}

run_case || fail "check failed"
echo "ok [$case_name]"
