#!/usr/bin/env bash
# Mounts (or unmounts) the 1 MB tmpfs on which e2e.rollback_test fills a disk for real, at
# BUILD/small-drive; Wine reaches it through its Z: drive. Where the machine does not let this
# process mount, nothing is mounted and the test says it skipped that case.
# Usage: small_drive.sh mount|unmount BUILD
set -u
folder=$2/small-drive
umount "$folder" 2>/dev/null
if [ "$1" = mount ]; then
  mkdir -p "$folder"
  mount -t tmpfs -o size=1m tmpfs "$folder" 2>/dev/null && touch "$folder/ON-TMPFS"
fi
exit 0
