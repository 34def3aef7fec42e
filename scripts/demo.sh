#!/usr/bin/env bash
# The run command: installs what is missing, builds, and runs the agent for
# real against the management-server simulator on loopback, telling a person
# what happens in plain words. Time is compressed: one agent minute lasts one
# second.
#
#   --with-unified-agent   installs the suite's unified-agent stand-in first:
#                          the agent subscribes to it, takes its device
#                          identifier from it and registers with it.
set -euo pipefail
cd "$(dirname "$0")/.."
with_ua=0
for arg in "$@"; do
  case "$arg" in
    --with-unified-agent) with_ua=1 ;;
    *) echo "usage: demo.sh [--with-unified-agent]" >&2; exit 2 ;;
  esac
done
scripts/deps.sh
echo "Building (first time takes a few minutes)..."
cmake -S . -B out/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C out/normal -j "${AG_JOBS:-2}" agentsvc cssim agtenant agevent agcore agdevid agbldn agmachinfo agentctl uaint >/dev/null

bin=$PWD/out/normal/bin
demo=$(mktemp -d /tmp/agcore-demo.XXXXXX)
root=$demo/agent
machine=$demo/machine
journal=$demo/cssim-journal.jsonl
mkdir -p "$root" "$machine"
# The protection product's default folder: agbldn installs the product there,
# then the product keeps its policy and its report database in it.
product=$machine/opt/vornex
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null ||
       echo $((20000 + RANDOM % 20000)))
admin="http://127.0.0.1:$port/admin"

sim_pid=""
agent_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill -KILL "$agent_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT

missed=()  # the steps the demo gave up waiting for
say() { printf '\n==> %s\n' "$*"; }
# wait_for DESCRIPTION SECONDS COMMAND...: polls COMMAND until it succeeds.
wait_for() {
  local what=$1 limit=$2; shift 2
  for _ in $(seq $((limit * 10))); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "    (gave up waiting for $what; see $root/logs/agcore.log)"
  missed+=("$what")
  return 1
}
journal_has() { grep -F "$1" "$journal" | grep -qF "${2:-}"; }
count_heartbeats() { grep -F '"operation":"clientdata"' "$journal" 2>/dev/null | grep -cF '"dataId":118' || true; }
heartbeats_above() { [ "$(count_heartbeats)" -gt "$1" ]; }
acked() { grep -F "\"cmdGuid\":\"$1\"" "$journal" | grep -vF '"fault":true' | grep -qF "\"status\":$2"; }
ack_failed() { grep -F "\"cmdGuid\":\"$1\"" "$journal" | grep -qF '"fault":true'; }
log_has() { grep -qF "$1" "$root/logs/agcore.log"; }
queue() { curl -fsS -X POST "$admin/commands" -H 'Content-Type: application/json' -d "$1" >/dev/null; }
# add_reports COUNT KIND: the product writes COUNT event reports into its SQLite report database.
add_reports() {
  local sql="CREATE TABLE IF NOT EXISTS reports(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,
             kind TEXT NOT NULL, detail TEXT NOT NULL); BEGIN;"
  for _ in $(seq "$1"); do sql+="INSERT INTO reports(time, kind, detail) VALUES(strftime('%s','now'), '$2', 'blocked');"; done
  sql+="COMMIT;"
  if command -v sqlite3 >/dev/null; then
    sqlite3 -cmd '.timeout 5000' "$product/reports.db" "$sql"
  else
    python3 -c 'import sqlite3,sys; c=sqlite3.connect(sys.argv[1], timeout=5); c.executescript(sys.argv[2])' \
      "$product/reports.db" "$sql"
  fi
}
server_report_count() { curl -fsS "$admin/reports" | grep -o '"records":[0-9]*' | head -1 | cut -d: -f2; }
reports_at_server() { [ "$(server_report_count)" = "$1" ]; }
policy_acked() { grep -F '"operation":"ack"' "$journal" | grep -F '"cmdId":12' | grep -qF '"status":1'; }

cat >"$demo/tenant.json" <<JSON
{"tenantId":"demo-tenant-0001","locale":"en-US","csmUrl":"http://127.0.0.1","csUrl":"http://127.0.0.1",
 "csPrtNo":$port,"csAppNm":"agcs","csSrvCl":"client","csSrvRp":"relay","csSrvNe":"notify",
 "csSrvPo":"policy","csSrvGn":"general","clientDefaultHeartBeatInterval":5}
JSON
"$bin/agtenant" encode "$demo/tenant.json" "$root/clagnt.dat"

say "Starting the management-server simulator on 127.0.0.1:$port"
echo '{"product":"protection product stand-in","version":"5.2"}' >"$demo/build.exe"
"$bin/cssim" --listen "127.0.0.1:$port" --journal "$journal" --av-build "$demo/build.exe" >"$demo/cssim.out" 2>&1 &
sim_pid=$!
wait_for "the simulator" 10 curl -fsS "$admin/health"

ua_folder=$machine/opt/uaagent/
ua_calls=${ua_folder}uaint-calls.jsonl
ua_called() { grep -F "\"call\":\"$1\"" "$ua_calls" 2>/dev/null | grep -qF '"status":0'; }
if [ "$with_ua" -eq 1 ]; then
  say "Installing the unified-agent stand-in (App Paths entry UAAGENT.EXE in the machine registry)"
  scripts/install-uaint.sh "$machine" "$bin/libuaint.so" "UA-DEMO-DEVICE-4711" | sed 's/^/    /'
fi

say "Starting the agent (heartbeat every 5 agent minutes = 5 seconds)"
"$bin/agentsvc" --root "$root" --machine-root "$machine" --minute-ms 1000 --log-level 8 >"$demo/agentsvc.out" 2>&1 &
agent_pid=$!

wait_for "the enrolment" 30 journal_has '"operation":"register"'
guid=$(grep -F '"operation":"register"' "$journal" | head -1 | sed 's/.*"clientGuid":"\([^"]*\)".*/\1/')
say "Enrolment: the agent registered with the server as client $guid"

wait_for "heartbeats" 30 heartbeats_above 1
say "Heartbeats: the server has received $(count_heartbeats) heartbeats from the agent"
say "What an operator sees: agentctl status --root $root"
"$bin/agentctl" status --root "$root" --machine-root "$machine" | sed 's/^/    /' || true

say "Installation: the server handed the agent two download locations for the protection product"
wait_for "the installation" 60 test -f "$product/status.json" &&
  say "agbldn downloaded the build from the simulator and installed the protection product in $product/"
# The installed product starts with its first policy.
mkdir -p "$product"
echo '{"version":"v1","features":{"3":"on","7":"standard"}}' >"$product/policy.json"
notification() { grep -F '"operation":"notification"' "$journal" | grep -F "\"dataId\":$1" | head -1 |
                 sed 's/.*"payload":\({[^}]*}\).*/\1/'; }
wait_for "the installation report" 60 journal_has '"operation":"notification"' '"dataId":114' &&
  say "Installation reported: the server received the installation status (114): $(notification 114)"
wait_for "the install notification" 60 journal_has '"operation":"notification"' '"dataId":139' &&
  say "The server also received the one-time install notification (139): $(notification 139)"
if [ "$with_ua" -eq 1 ]; then
  wait_for "the subscription" 10 ua_called SubscribeV2 &&
    say "Unified agent: the agent subscribed with the derived passphrase ($(grep -F '"SubscribeV2"' "$ua_calls" |
      head -1 | sed 's/.*"passphrase":"\([^"]*\)".*/\1/'))"
  wait_for "the device identifier" 10 ua_called GetUDIFromQA &&
    say "Unified agent: the device identifier came from the unified agent: $(grep -F '"GetUDIFromQA"' "$ua_calls" |
      head -1 | sed 's/.*"udi":"\([^"]*\)".*/\1/')"
  log_has "Client UDI generated" && echo "    agent log: \"Client UDI generated\""
  queue '{"client":"*","guid":"demo-reenroll","command":{"cmd":{"id":111,"type":1}}}'
  say "Queued a re-enrolment command (111): the agent now registers with the unified agent..."
  wait_for "the registration message" 30 ua_called SendData &&
    say "Registration message received by the unified agent:" &&
    grep -F '"SendData"' "$ua_calls" | head -1 |
    { python3 -c 'import json,sys; c=json.loads(sys.stdin.read()); print("    to", c["server"] + ":", c["json"])' ||
      sed 's/^/    /'; }
fi

queue '{"client":"*","guid":"demo-os-query","command":{"cmd":{"id":49,"type":4,"data":{"query":"os"}}}}'
say "Queued an OS-query command at the server; it travels with the next heartbeat..."
wait_for "the acknowledgement" 30 acked demo-os-query 1 &&
  say "Command carried out and acknowledged with status 1 (done); its answer is in the journal"

queue '{"client":"*","guid":"demo-force-sync","command":{"cmd":{"id":29,"type":1}}}'
say "Queued a force-sync command..."
wait_for "the forced sync" 30 log_has "Force server sync occured" &&
  say "Forced sync: the agent ran a heartbeat at once instead of waiting for its timer"

add_reports 250 malware
say "The protection product logged 250 events in its report database ($product/reports.db)..."
wait_for "the report upload" 60 reports_at_server 250 &&
  say "Report upload: the agent copied the product's report database into its own (carpt.db), told the product" &&
  echo "    to start afresh, and sent the 250 records in chunks of 100; the server counted $(server_report_count)"

curl -fsS -X POST "$admin/policy" -H 'Content-Type: application/json' \
  -d '{"client":"*","policy":{"version":"v2","features":{"3":"on","7":"strict"}}}' >/dev/null
say "The administrator changed the policy at the server to version v2 (feature 7: strict)..."
wait_for "the policy round trip" 60 policy_acked &&
  say "Policy round trip: the server told the agent to fetch its policy; the agent sent the product's policy" &&
  echo "    state, received policy v2, the product applied it ($(cat "$product/policy.json"))," &&
  echo "    and the agent acknowledged it to the server with the policy details"

curl -fsS -X POST "$admin/faults" -H 'Content-Type: application/json' \
  -d '{"count":1000,"operation":"ack","httpStatus":503}' >/dev/null
queue '{"client":"*","guid":"demo-late-ack","command":{"cmd":{"id":1,"type":1}}}'
say "The server now answers acknowledgements with 503 (down); queued another command..."
wait_for "the failed acknowledgement" 30 ack_failed demo-late-ack &&
  say "The acknowledgement failed: the agent kept it in its store (pending list 14)"
curl -fsS -X DELETE "$admin/faults" >/dev/null
say "The server is answering again..."
wait_for "the late delivery" 60 acked demo-late-ack 1 &&
  say "The server is back: the kept acknowledgement was delivered by a task performer"

say "Stopping the agent (SIGTERM)"
kill -TERM "$agent_pid"
status=0
wait "$agent_pid" || status=$?
agent_pid=""
if [ "$status" -eq 0 ]; then say "Clean stop: the agent stopped every thread and exited 0"; else say "The agent exited with $status"; fi
[ "$status" -eq 0 ] || missed+=("a clean stop")

cat <<EOF

Where to look:
  agent log          $root/logs/agcore.log
  client data store  $root/data/agclient.db (SQLite)
  simulator journal  $journal
  installer log      $root/temp/agbldn.log
  unified agent      $ua_calls (with --with-unified-agent)
  tenant file        $root/clagnt.dat (decode with: $bin/agtenant decode $root/clagnt.dat)
EOF
if [ "${#missed[@]}" -gt 0 ]; then
  echo
  echo "The demo did not see: $(IFS=,; echo "${missed[*]}" | sed 's/,/, /g')" >&2
  exit 1
fi
