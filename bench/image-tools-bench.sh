#!/usr/bin/env bash
# vexlo-image beside the FAT tools, on the same files: `create` of a folder of
# 200 files (19 MB) against `mkfs.fat -A -C` followed by `mcopy -s`, and
# `convert` of a 20 MB partition against `cp` of the same bytes. Prints the
# median wall and CPU times of several runs and the ratios. A benchmark, not
# a test: the machine's load shows in every figure.
#   bench/image-tools-bench.sh [VEXLO_IMAGE] [RUNS]
set -euo pipefail
tool=${1:-build/dev/bin/vexlo-image}
runs=${2:-7}
command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null || { echo "needs dosfstools and mtools" >&2; exit 1; }
[ -x "$tool" ] || { echo "no $tool (build vexlo-image first)" >&2; exit 1; }
tool=$(realpath "$tool")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir files
for i in $(seq 1 200); do head -c 99614 /dev/urandom >"files/F$i.BIN"; done

# Median of RUNS runs of a command: "wall cpu" in milliseconds.
measure() {
  local i walls=() cpus=()
  for i in $(seq 1 "$runs"); do
    rm -f a.img p.img c.img
    sync
    /usr/bin/time -o times.txt -f "%e %U %S" "$@" >/dev/null 2>&1
    read -r wall user sys <times.txt
    walls+=("$(awk -v w="$wall" 'BEGIN { printf "%d", w * 1000 }')")
    cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1000 }')")
  done
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")" \
       "$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")"
}
export MTOOLS_SKIP_CHECK=1
read -r ours ours_cpu < <(measure "$tool" create a.img files --size-mb 20)
read -r fat fat_cpu < <(measure sh -c 'mkfs.fat -A -C a.img 20479 && mcopy -s -i a.img files/* ::/')
rm -f a.img
"$tool" create a.img files --size-mb 20 >/dev/null
cp a.img served.img
read -r conv conv_cpu < <(measure "$tool" convert served.img p.img --to plain)
"$tool" convert served.img plain.img --to plain >/dev/null
read -r copy copy_cpu < <(measure cp plain.img c.img)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0) ? a / b : 0 }'; }
echo "| what | wall ms | CPU ms |"
echo "|---|---|---|"
echo "| vexlo-image create (200 files, 19 MB) | $ours | $ours_cpu |"
echo "| mkfs.fat -A -C + mcopy -s | $fat | $fat_cpu |"
echo "| vexlo-image convert --to plain (20 MB partition) | $conv | $conv_cpu |"
echo "| cp of the plain image | $copy | $copy_cpu |"
echo
echo "create / FAT tools: $(ratio "$ours" "$fat")x wall, $(ratio "$ours_cpu" "$fat_cpu")x CPU;" \
     "convert / cp: $(ratio "$conv" "$copy")x wall, $(ratio "$conv_cpu" "$copy_cpu")x CPU (median of $runs runs)"
