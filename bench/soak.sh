#!/usr/bin/env bash
# soak.sh [BIN_DIR] [MINUTE_MS] [DAYS] - runs one agent for DAYS agent days
# (default a year) in compressed time against the simulator, and samples the
# agent every agent week: resident memory, open file descriptors, threads,
# size of the root folder without its logs (the client data store and INI
# files) and size of the log folder.
#
# What the year holds: a heartbeat every 10 agent minutes; three commands a day
# (the harmless command 1, new GUIDs each time); on day 1 and every 45 days
# after, ten refused acknowledgements (HTTP 503) that go to the pending list and out again; every
# 30 days the server unreachable for 3 real seconds (hours of agent time); every
# 91 days a server restart. At the end it checks that every command was
# acknowledged and prints the samples with the change after the warm-up (the
# first four weeks).
#
# Not part of the test command: a year at the default 3 ms per agent minute
# takes about 27 real minutes. Run it niced: nice -n 10 bench/soak.sh
set -euo pipefail
bin=$(realpath "${1:-$(dirname "$0")/../out/normal/bin}")
minute_ms=${2:-3}
days=${3:-365}
heartbeat_minutes=10
warmup_weeks=4
work=$(mktemp -d /tmp/agcore-soak.XXXXXX)
cssim_pid=
agent_pid=
cleanup() {
  [ -n "$agent_pid" ] && kill -TERM "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null || true
  [ -n "$cssim_pid" ] && kill -TERM "$cssim_pid" 2>/dev/null && wait "$cssim_pid" 2>/dev/null || true
  if [ -z "${AG_SOAK_KEEP:-}" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
admin=http://127.0.0.1:$port/admin
cat >"$work/tenant.json" <<JSON
{"tenantId":"soak-0001","locale":"en-US","csmUrl":"http://127.0.0.1","csUrl":"http://127.0.0.1",
 "csPrtNo":$port,"csAppNm":"agcs","csSrvCl":"client","csSrvRp":"relay","csSrvNe":"notify",
 "csSrvPo":"policy","csSrvGn":"general","clientDefaultHeartBeatInterval":$heartbeat_minutes}
JSON
root=$work/root
mkdir -p "$root" "$work/machine"
"$bin/agtenant" encode "$work/tenant.json" "$root/clagnt.dat"

start_cssim() {
  "$bin/cssim" --listen "127.0.0.1:$port" --journal "$work/journal.jsonl" \
    --heartbeat-interval "$heartbeat_minutes" >>"$work/cssim.out" 2>&1 &
  cssim_pid=$!
  for _ in $(seq 200); do curl -fsS "$admin/health" >/dev/null 2>&1 && return; sleep 0.05; done
  echo "soak: the simulator did not come up" >&2
  exit 1
}
wait_health() {
  for _ in $(seq 400); do curl -fsS "$admin/health" >/dev/null 2>&1 && return; sleep 0.05; done
}
post() { curl -fsS -X POST -H 'Content-Type: application/json' -d "$2" "$admin/$1" >/dev/null; }

start_cssim
"$bin/agentsvc" --root "$root" --machine-root "$work/machine" --minute-ms "$minute_ms" >"$work/agentsvc.out" 2>&1 &
agent_pid=$!
until grep -q '"operation":"register"' "$work/journal.jsonl" 2>/dev/null; do sleep 0.05; done
client=$(grep -m1 '"operation":"register"' "$work/journal.jsonl" | sed 's/.*"clientGuid":"\([^"]*\)".*/\1/')

samples=$work/samples.csv
echo "day,rss_kb,fds,threads,store_kb,logs_kb" >"$samples"
sample() {
  local rss fds threads store logs
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$agent_pid/status")
  threads=$(awk '/^Threads/ {print $2}' "/proc/$agent_pid/status")
  fds=$(ls "/proc/$agent_pid/fd" | wc -l)
  # The agent rewrites its INI files through short-lived files; du may find
  # one gone, which is no error here.
  logs=$(du -sk "$root/logs" 2>/dev/null | cut -f1 || true)
  store=$(( $(du -sk "$root" 2>/dev/null | cut -f1 || true) - logs ))
  echo "$1,$rss,$fds,$threads,$store,$logs" >>"$samples"
}

day_ms=$(( minute_ms * 1440 ))
queued=0
t0=$(date +%s)
t0_ms=$(date +%s%3N)
sample 0
for day in $(seq "$days"); do
  # Day N ends N agent days after the start, however long the work between
  # the sleeps took.
  wait_ms=$(( t0_ms + day * day_ms - $(date +%s%3N) ))
  (( wait_ms > 0 )) && sleep "$(awk -v w="$wait_ms" 'BEGIN {print w / 1000}')"
  kill -0 "$agent_pid" 2>/dev/null || { echo "soak: the agent ended on day $day" >&2; exit 1; }
  # The simulator keeps its queues in memory: it restarts before the day's
  # commands are queued, not after.
  if (( day % 91 == 0 )); then
    kill -TERM "$cssim_pid"; wait "$cssim_pid" || true
    start_cssim
  fi
  for n in 1 2 3; do
    post commands "{\"client\":\"$client\",\"guid\":\"soak-$day-$n\",\"command\":{\"cmd\":{\"id\":1,\"type\":1}}}"
    queued=$((queued + 1))
  done
  if (( day % 45 == 1 )); then post faults '{"count":10,"operation":"ack","httpStatus":503}'; fi
  if (( day % 30 == 0 )); then post outage '{"mode":"unreachable","seconds":3}' || true; wait_health; fi
  if (( day % 7 == 0 )); then sample "$day"; fi
done
# The last commands are acknowledged within a few heartbeats.
for _ in $(seq 60); do
  acked=$(grep '"operation":"ack"' "$work/journal.jsonl" | grep -v '"fault":true' |
          grep -o '"cmdGuid":"soak-[0-9]*-[0-9]"' | sort -u | wc -l || true)
  [ "$acked" -ge "$queued" ] && break
  sleep 1
done
sample "$days"
elapsed=$(( $(date +%s) - t0 ))
heartbeats=$(grep -c '"dataId":118' "$work/journal.jsonl" || true)

echo "soak: $days days of commands in $elapsed s, $(( elapsed * 1000 / minute_ms / 1440 )) agent days at $minute_ms ms per agent minute,"
echo "      $heartbeats heartbeats, $queued commands queued, $acked acknowledged; samples in $samples"
column -s, -t "$samples"
awk -F, -v w="$warmup_weeks" 'NR == 1 {next}
  { row++ }
  row == w + 1 { for (i = 2; i <= 6; i++) base[i] = $i }
  row > w + 1 { for (i = 2; i <= 6; i++) if ($i - base[i] > grow[i]) grow[i] = $i - base[i]; last = $0 }
  END {
    split("day rss_kb fds threads store_kb logs_kb", name, " ")
    printf "after the warm-up (week %d): largest growth", w
    for (i = 2; i <= 6; i++) printf " %s +%d", name[i], grow[i]
    printf "\n"
  }' "$samples"
[ "$acked" -ge "$queued" ] || { echo "soak: $((queued - acked)) commands never acknowledged" >&2; exit 1; }
