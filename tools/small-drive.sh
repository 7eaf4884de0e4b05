#!/usr/bin/env bash
# Maps two small tmpfs drives into the Wine prefix for the disk-full tests:
# S: holds 160 KiB of data, R: at most 8 files and directories. Needs root;
# without it the drives are missing and the tests that need them are skipped.
#   tools/small-drive.sh mount|unmount      (WINEPREFIX must be set)
set -u
base="$WINEPREFIX/small-drives"
drives=("s:size=160k" "r:size=4m,nr_inodes=8")
case "${1:-}" in
  mount)
    for drive in "${drives[@]}"; do
      letter=${drive%%:*} options=${drive#*:}
      mkdir -p "$base/$letter"
      mountpoint -q "$base/$letter" || mount -t tmpfs -o "$options" tmpfs "$base/$letter" 2>/dev/null ||
        { echo "small-drive: cannot mount a tmpfs; the disk-full tests will be skipped"; exit 0; }
      ln -sfn "$base/$letter" "$WINEPREFIX/dosdevices/$letter:"
    done ;;
  unmount)
    for drive in "${drives[@]}"; do
      letter=${drive%%:*}
      rm -f "$WINEPREFIX/dosdevices/$letter:"
      mountpoint -q "$base/$letter" && umount "$base/$letter"
    done
    rmdir "$base"/* "$base" 2>/dev/null ;;
  *) echo "usage: small-drive.sh mount|unmount" >&2; exit 2 ;;
esac
exit 0
