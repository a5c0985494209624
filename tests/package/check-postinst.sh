#!/bin/sh
# check-postinst.sh POSTINST: the package's postinst triggers the cartridges
# the udev rule matches, each with its interfaces, and nothing else; it never
# fails an install. Runs it against a recording udevadm.
set -u
postinst=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vexlo-postinst.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
mkdir -p "$work/bin" "$work/run-udev"
# The fake udevadm logs each call; a dry run lists $FAKE_DEVICES, as the real
# one lists what its matches select (the test checks the matches asked for).
cat > "$work/bin/udevadm" <<'FAKE'
#!/bin/sh
echo "$*" >> "$FAKE_LOG"
case " $* " in
  *" --dry-run "*) [ -n "$FAKE_DEVICES" ] && printf '%s\n' $FAKE_DEVICES ;;
esac
exit "${FAKE_STATUS:-0}"
FAKE
chmod +x "$work/bin/udevadm"
# The same script, with the test's folder standing in for /run/udev.
sed "s|/run/udev|$work/run-udev|g" "$postinst" > "$work/postinst"

cart1=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2
cart2=/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1.4
list="control --reload-rules
trigger --dry-run --verbose --subsystem-match=usb --attr-match=idVendor=0403 --attr-match=product=Vexlo"
# name | argument | devices listed | udevadm's status | calls expected
while IFS='|' read -r name argument devices fake_status expected; do
  : > "$work/log"
  FAKE_LOG=$work/log FAKE_DEVICES=$devices FAKE_STATUS=$fake_status PATH="$work/bin:/usr/bin:/bin" \
    sh "$work/postinst" "$argument" > "$work/out" 2>&1
  rc=$?
  want=$(printf '%b' "$expected" | sed "s|CART1|$cart1|; s|CART2|$cart2|; s|LIST|$(printf '%s' "$list" | tr '\n' '\a')|" | tr '\a' '\n')
  if [ $rc -ne 0 ]; then
    echo "FAIL $name: status $rc: $(cat "$work/out")"; status=1
  elif [ "$(cat "$work/log")" != "$want" ]; then
    printf 'FAIL %s: udevadm called as\n%s\nexpected\n%s\n' "$name" "$(cat "$work/log")" "$want"; status=1
  fi
done <<CASES
no cartridge plugged in|configure||0|LIST
one cartridge, with its interfaces|configure|$cart1|0|LIST\ntrigger --action=add --parent-match=CART1
two cartridges|configure|$cart1 $cart2|0|LIST\ntrigger --action=add --parent-match=CART1\ntrigger --action=add --parent-match=CART2
udevadm failing|configure|$cart1|1|LIST\ntrigger --action=add --parent-match=CART1
not a configure run|abort-upgrade|$cart1|0|
CASES

# Without udev running (a chroot, a container), nothing is asked of it.
rmdir "$work/run-udev"
: > "$work/log"
FAKE_LOG=$work/log FAKE_DEVICES=$cart1 PATH="$work/bin:/usr/bin:/bin" sh "$work/postinst" configure ||
  { echo "FAIL without udev: status $?"; status=1; }
[ -s "$work/log" ] && { echo "FAIL without udev: udevadm was called: $(cat "$work/log")"; status=1; }
[ $status -eq 0 ] && echo "postinst triggers the cartridges only"
exit $status
