#!/bin/sh
# check-windows-texts.sh SOURCE-DIR GROFF: the texts of the Windows ZIPs, made
# by cmake/windows-text.cmake from the sources Linux shares, hold nothing
# that only Linux has, nothing unfilled, and the filter refuses what it must.
set -u
src=$1 groff=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vexlo-windows-texts.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL $*"; status=1; }
text() {  # text IN OUT [-D...]: runs the filter, its messages in OUT.log
  in=$1 out=$2; shift 2
  cmake -DIN="$in" -DOUT="$out" "$@" -P "$src/cmake/windows-text.cmake" > "$out.log" 2>&1
}

# Every text the ZIPs get from a shared source.
for page in Vexlo VexloFPGAUpdate vexlo-image vexlo-xsvf; do
  text "$src/docs/man/$page.1" "$work/$page.txt" -DGROFF="$groff" || fail "$page: $(cat "$work/$page.txt.log")"
done
for doc in EMULATOR WINDOWS; do
  text "$src/docs/$doc.md" "$work/$doc.txt" || fail "$doc: $(cat "$work/$doc.txt.log")"
done
text "$src/cmake/package/README-windows.txt.in" "$work/README.txt" -DVERSION=1.2.3 ||
  fail "README: $(cat "$work/README.txt.log")"
grep -q "^Vexlo PC software 1.2.3 for Windows" "$work/README.txt" || fail "README.txt: the version is not filled in"
# Linux's paths, variables, programs and shell commands, and placeholders.
linux_only='LD_LIBRARY_PATH|/usr/|/tmp/|\$HOME|udev|libftd2xx\.so|vexlo-emulate|printf|README\.md|<build>|^ *\$ |man vexlo|@[A-Za-z_][A-Za-z0-9_]*@'
for t in "$work"/*.txt; do
  grep -nE "$linux_only" "$t" | sed "s|^|FAIL $(basename "$t"): |" | grep . && status=1
  grep -nE 'linux-only|windows:' "$t" | sed "s|^|FAIL $(basename "$t") keeps a marker: |" | grep . && status=1
  [ "$(grep -c "$(printf '\r')\$" "$t")" = "$(wc -l < "$t")" ] || fail "$(basename "$t"): lines without CR LF"
done

# What the filter does with a small text: kept, dropped, put in, refused.
printf 'a\n.\\" linux-only\nlinux\n.\\" end linux-only\n.\\" windows: win\n$ cmd\n' > "$work/roff.in"
printf 'a\r\nwin\r\n> cmd\r\n' > "$work/roff.want"
text "$work/roff.in" "$work/roff.out" && cmp -s "$work/roff.want" "$work/roff.out" || fail "manual page markers"
printf '<!-- linux-only -->\nx\n<!-- end linux-only -->\n<!-- windows: `a;b` [c] -->\n@V@\n' > "$work/md.in"
printf '`a;b` [c]\r\n9\r\n' > "$work/md.want"
text "$work/md.in" "$work/md.out" -DV=9 && cmp -s "$work/md.want" "$work/md.out" || fail "Markdown markers"
for case in "unfilled|@NOPE@|nothing to fill NOPE" \
            "never ended|<!-- linux-only -->|never ended" \
            "stray end|.\\\\\" end linux-only|without" \
            "nested|<!-- linux-only -->\n<!-- linux-only -->|inside another"; do
  name=${case%%|*} rest=${case#*|}
  body=${rest%|*} message=${rest##*|}
  printf "$body\n" > "$work/bad.in"
  if text "$work/bad.in" "$work/bad.out"; then
    fail "the filter took a text with $name"
  elif ! grep -q "$message" "$work/bad.out.log"; then
    fail "$name: $(cat "$work/bad.out.log")"
  fi
done
[ $status -eq 0 ] && echo "the Windows texts are written for Windows"
exit $status
