#!/usr/bin/env bash
# check_package.sh BUILD_DIR - builds the Debian package from BUILD_DIR with
# CPack into a scratch folder and checks what an installation would get:
# the file list, modes and owners (dpkg-deb -c), the unpacked programs running
# from their folder (dpkg -x), the maintainer scripts, the systemd unit
# (systemd-analyze verify, when present) and lintian (when present).
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/agcore-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok:   $*"; }

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/work" \
  -D CPACK_OUTPUT_FILE_PREFIX="$scratch/out" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$scratch"/out/*.deb)
echo "package: $(basename "$deb")"

# Layout, modes and owners from the archive's own listing.
listing=$(dpkg-deb -c "$deb")
expect_entry() {  # MODE PATH
  if grep -qE "^$1 root/root .* \./$2( |$)" <<<"$listing"; then ok "$1 $2"; else fail "no $1 root/root entry ./$2"; fi
}
for program in agentsvc agentctl agtenant agevent; do expect_entry -rwxr-xr-x "usr/lib/vornex-agent/$program"; done
for library in agcore agplatform agevtlog agmisc agtransport agresp agmsggen agmsgparse agpreinst agsystem agvers agdevid; do
  expect_entry -rw-r--r-- "usr/lib/vornex-agent/lib$library.so"
done
expect_entry lrwxrwxrwx "usr/bin/agentctl -> ../lib/vornex-agent/agentctl"
expect_entry -rw-r--r-- "lib/systemd/system/agentsvc.service"
for doc in operations.md copyright changelog.gz; do expect_entry -rw-r--r-- "usr/share/doc/vornex-agent/$doc"; done
if grep -qE '\./(opt|etc|var|home|tmp)/' <<<"$listing"; then fail "files outside /usr and /lib"; else ok "nothing outside /usr and /lib"; fi
if grep -E '^-' <<<"$listing" | grep -vE '^-rw[-x]r-[-x]r-[-x] root/root' >/dev/null; then
  fail "a file with another mode or owner"
else
  ok "every file root/root, 0644 or 0755"
fi

# Control data: dependencies and the maintainer scripts.
control=$(dpkg-deb -f "$deb")
for field in "Package: vornex-agent" "Depends: .*adduser" "Depends: .*init-system-helpers" "Depends: .*libc6"; do
  if grep -qE "^$field" <<<"$control"; then ok "control $field"; else fail "control lacks $field"; fi
done
dpkg-deb -e "$deb" "$scratch/control"
for script in postinst prerm postrm; do
  [ -x "$scratch/control/$script" ] && sh -n "$scratch/control/$script" && ok "$script present and valid sh" ||
    fail "$script missing or not valid sh"
done
grep -q 'install -d -m 0750 -o vornex-agent -g vornex-agent /var/lib/vornex-agent' "$scratch/control/postinst" &&
  ok "postinst makes the state folder 0750" || fail "postinst does not make the state folder 0750"
grep -q 'adduser --system' "$scratch/control/postinst" && ok "postinst adds the system user" || fail "no system user"
grep -qE 'remove\|upgrade' "$scratch/control/prerm" && grep -q 'deb-systemd-invoke stop' "$scratch/control/prerm" &&
  ok "prerm stops the service before remove and upgrade" || fail "prerm does not stop the service"
awk '/"\$1" = "purge"/,/^fi/' "$scratch/control/postrm" | grep -q 'rm -rf /var/lib/vornex-agent' &&
  ! awk '/"\$1" = "remove"/,/^fi/' "$scratch/control/postrm" | grep -q 'rm ' &&
  ok "postrm deletes the state on purge only" || fail "postrm does not keep the state until purge"

# The unpacked programs run from their own folder (RPATH $ORIGIN).
dpkg -x "$deb" "$scratch/root"
lib="$scratch/root/usr/lib/vornex-agent"
"$lib/agentsvc" --help | grep -q -- '--root DIR' && ok "packaged agentsvc --help" || fail "packaged agentsvc --help"
"$lib/agentctl" --help | grep -q 'Exit status' && ok "packaged agentctl --help" || fail "packaged agentctl --help"
"$scratch/root/usr/bin/agentctl" status --root "$scratch/no-agent" >/dev/null 2>&1 && status=0 || status=$?
[ "$status" -eq 1 ] && ok "agentctl status on an empty root exits 1" || fail "agentctl status on an empty root exited $status"
if ldd "$lib/agentsvc" "$lib/agentctl" "$lib"/lib*.so | grep -q 'not found'; then fail "unresolved libraries"; else ok "every library resolves"; fi

unit="$scratch/root/lib/systemd/system/agentsvc.service"
for setting in "User=vornex-agent" "NoNewPrivileges=yes" "ProtectSystem=strict" "ProtectHome=yes" "PrivateTmp=yes" \
               "StateDirectoryMode=0750" "UMask=0077" "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX"; do
  grep -qx "$setting" "$unit" && ok "unit $setting" || fail "unit lacks $setting"
done
stop=$(sed -n 's/^TimeoutStopSec=\([0-9]*\)s$/\1/p' "$unit")
[ -n "$stop" ] && [ "$stop" -le 10 ] && ok "unit TimeoutStopSec=${stop}s" || fail "unit TimeoutStopSec missing or above 10 s"
grep -q "^ExecStart=/usr/lib/vornex-agent/agentsvc " "$unit" && ok "unit starts the packaged agentsvc" ||
  fail "unit ExecStart does not name /usr/lib/vornex-agent/agentsvc"

if command -v systemd-analyze >/dev/null; then
  # verify resolves ExecStart on this machine; point it at the unpacked copy.
  sed "s|/usr/lib/vornex-agent/|$lib/|g" "$unit" >"$scratch/agentsvc.service"
  if out=$(systemd-analyze verify "$scratch/agentsvc.service" 2>&1) && [ -z "$out" ]; then
    ok "systemd-analyze verify"
  else
    fail "systemd-analyze verify: $out"
  fi
else
  echo "skip: systemd-analyze not installed"
fi

if command -v lintian >/dev/null; then
  if lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1; then
    ok "lintian: no error ($(grep -c '^W:' "$scratch/lintian.log" || true) warnings)"
  else
    cat "$scratch/lintian.log"
    fail "lintian reports errors"
  fi
else
  echo "skip: lintian not installed"
fi

[ "$failures" -eq 0 ] && echo "package checks passed" || { echo "$failures package checks failed"; exit 1; }
