#!/usr/bin/env bash
# install-uaint.sh MACHINE_ROOT LIBRARY [UDI]
# install-uaint.sh --remove MACHINE_ROOT
#
# Installs the unified-agent stand-in (libuaint.so) into a machine root the
# way the unified agent's installer would: the library goes into
# MACHINE_ROOT/opt/uaagent/ and the App Paths entry "UAAGENT.EXE" of the
# machine's registry gets that folder, with its trailing separator, as its
# "Path" value. With UDI the stand-in serves that device identifier. The
# calls the stand-in receives are journalled in
# MACHINE_ROOT/opt/uaagent/uaint-calls.jsonl. --remove takes both away again.
set -euo pipefail
app_key='registry/HKLM/SOFTWARE/Microsoft/Windows/CurrentVersion/App Paths/UAAGENT.EXE'
if [ "${1:-}" = "--remove" ]; then
  [ $# -eq 2 ] || { echo "usage: install-uaint.sh --remove MACHINE_ROOT" >&2; exit 2; }
  rm -rf "${2%/}/$app_key" "${2%/}/opt/uaagent"
  exit 0
fi
[ $# -ge 2 ] && [ $# -le 3 ] || { echo "usage: install-uaint.sh MACHINE_ROOT LIBRARY [UDI]" >&2; exit 2; }
machine=${1%/}
library=$2
[ -f "$library" ] || { echo "install-uaint.sh: no library at $library" >&2; exit 1; }
folder="$machine/opt/uaagent/"
mkdir -p "$folder" "$machine/$app_key"
# A fresh copy (new file, not overwritten in place) so a process that has
# the previous one loaded keeps it intact.
cp "$library" "$folder/libuaint.so.new"
mv -f "$folder/libuaint.so.new" "$folder/libuaint.so"
if [ $# -eq 3 ]; then printf 'udi=%s\n' "$3" >"$folder/uaint.conf"; fi
printf 'REG_SZ\n%s' "$folder" >"$machine/$app_key/Path.new"
mv -f "$machine/$app_key/Path.new" "$machine/$app_key/Path"
echo "unified-agent stand-in installed in $folder"
