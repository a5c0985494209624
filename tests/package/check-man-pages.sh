#!/bin/sh
# check-man-pages.sh FOLDER: every FOLDER/*.1 renders with man without a
# warning, has the sections a user looks for, and names itself in .TH.
set -u
status=0
for page in "$1"/*.1; do
  name=$(basename "$page" .1)
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "FAIL $name: $warnings"; status=1
  fi
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -q "^\.SH \"*$section\"*\$" "$page" || { echo "FAIL $name: no $section section"; status=1; }
  done
  th=$(sed -n 's/^\.TH \([^ ]*\) 1 .*/\1/p' "$page" | sed 's/\\-/-/g')
  [ "$th" = "$(echo "$name" | tr '[:lower:]' '[:upper:]')" ] || { echo "FAIL $name: .TH names '$th'"; status=1; }
done
[ $status -eq 0 ] && echo "manual pages render cleanly"
exit $status
