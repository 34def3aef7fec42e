#!/usr/bin/env bash
# measure_stop.sh [BIN_DIR] [ROUNDS] - SIGTERM-to-exit of the service host in
# four states (real time, against cssim on loopback; not run in CI):
#   idle:      registered, between heartbeats;
#   transfer:  a heartbeat in flight to a server that answers after 60 s;
#   commands:  a heartbeat answer with COMMANDS commands being processed
#              (COMMANDS defaults to 100000; an answer above the transport's
#              body cap is refused before any processing);
#   queue:     the task queue full of pending acknowledgements whose resends
#              the server holds for 60 s each.
# Prints each round and the median per state; the goal is under 1000 ms.
set -euo pipefail
bin=${1:-$(dirname "$0")/../out/normal/bin}
rounds=${2:-3}
commands=${COMMANDS:-100000}
work=$(mktemp -d /tmp/agcore-stop.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/tenant.json" <<JSON
{"tenantId":"measure-0002","locale":"en-US","csmUrl":"http://127.0.0.1","csUrl":"http://127.0.0.1",
 "csPrtNo":$port,"csAppNm":"agcs","csSrvCl":"client","csSrvRp":"relay","csSrvNe":"notify",
 "csSrvPo":"policy","csSrvGn":"general","clientDefaultHeartBeatInterval":1}
JSON
"$bin/cssim" --listen "127.0.0.1:$port" --journal "$work/journal.jsonl" >"$work/cssim.out" 2>&1 &
for _ in $(seq 100); do curl -fsS "http://127.0.0.1:$port/admin/health" >/dev/null 2>&1 && break; sleep 0.1; done

admin() { curl -fsS -X "$1" "http://127.0.0.1:$port$2" -H 'Content-Type: application/json' ${3:+-d "$3"} >/dev/null; }
count() { grep -c "\"operation\":\"$1\"" "$work/journal.jsonl" 2>/dev/null || true; }
now_ms() { date +%s%3N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
# Queues $1 commands for every client over one connection.
queue_commands() {
  python3 - "$port" "$1" <<'PY'
import http.client, json, sys
port, n = int(sys.argv[1]), int(sys.argv[2])
c = http.client.HTTPConnection("127.0.0.1", port)
for i in range(n):
    body = json.dumps({"client": "*", "guid": "stop-%d" % i, "command": {"cmd": {"id": 60, "type": 1}}})
    c.request("POST", "/admin/commands", body, {"Content-Type": "application/json"})
    c.getresponse().read()
PY
}

# Starts an agent in a fresh root and waits for its first heartbeat.
start_agent() {
  root=$work/root$1
  mkdir -p "$root"
  "$bin/agtenant" encode "$work/tenant.json" "$root/clagnt.dat"
  local before
  before=$(count clientdata)
  # One agent minute lasts 200 ms: a heartbeat about every 200 ms.
  "$bin/agentsvc" --root "$root" --machine-root "$work/machine$1" --minute-ms 200 >"$work/agentsvc$1.out" 2>&1 &
  pid=$!
  until [ "$(count clientdata)" -gt "$before" ]; do sleep 0.01; done
}
stop_agent() {
  local t0
  t0=$(now_ms)
  kill -TERM "$pid"
  wait "$pid" || true
  echo $(( $(now_ms) - t0 ))
}

declare -A results
for round in $(seq "$rounds"); do
  start_agent "idle$round"
  sleep 2
  results[idle]+="$(stop_agent) "

  start_agent "transfer$round"
  admin POST /admin/outage '{"mode":"slow","seconds":120,"delayMs":60000}'
  sleep 2  # the next heartbeat is now waiting for its answer
  results[transfer]+="$(stop_agent) "
  admin DELETE /admin/outage

  start_agent "commands$round"
  queue_commands "$commands"
  before=$(count clientdata)
  until [ "$(count clientdata)" -gt "$before" ]; do sleep 0.01; done
  sleep 0.2  # the answer is being processed
  results[commands]+="$(stop_agent) "

  start_agent "queue$round"
  admin POST /admin/faults '{"count":1000000,"operation":"ack","httpStatus":503}'
  queue_commands 400
  until [ "$(grep -c '"fault":true' "$work/journal.jsonl" 2>/dev/null || true)" -gt 400 ]; do sleep 0.05; done
  admin POST /admin/outage '{"mode":"slow","seconds":120,"delayMs":60000}'
  sleep 2  # the pending acknowledgements are queued again, their resends held
  results[queue]+="$(stop_agent) "
  admin DELETE /admin/outage
  admin DELETE /admin/faults
done
for state in idle transfer commands queue; do
  echo "$state: rounds ${results[$state]}ms, median $(printf '%s\n' ${results[$state]} | median) ms"
done
