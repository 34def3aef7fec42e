#!/usr/bin/env bash
# measure_agent.sh [BIN_DIR] [ROUNDS] - measures the service host for real:
#   start-up: from launching agentsvc until the simulator journals the first
#             registration request;
#   clean-up: from SIGTERM until agentsvc has exited;
#   idle:     CPU time and resident memory of agentsvc over 60 seconds between
#             heartbeats (real time, heartbeat interval 15 minutes).
# Prints the median of each over ROUNDS rounds (idle is measured once).
set -euo pipefail
bin=${1:-$(dirname "$0")/../out/normal/bin}
rounds=${2:-5}
work=$(mktemp -d /tmp/agcore-measure.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/tenant.json" <<JSON
{"tenantId":"measure-0001","locale":"en-US","csmUrl":"http://127.0.0.1","csUrl":"http://127.0.0.1",
 "csPrtNo":$port,"csAppNm":"agcs","csSrvCl":"client","csSrvRp":"relay","csSrvNe":"notify",
 "csSrvPo":"policy","csSrvGn":"general","clientDefaultHeartBeatInterval":15}
JSON
"$bin/cssim" --listen "127.0.0.1:$port" --journal "$work/journal.jsonl" >"$work/cssim.out" 2>&1 &
for _ in $(seq 100); do curl -fsS "http://127.0.0.1:$port/admin/health" >/dev/null 2>&1 && break; sleep 0.1; done

now_ms() { date +%s%3N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

startup=()
cleanup=()
for round in $(seq "$rounds"); do
  root=$work/root$round
  mkdir -p "$root"
  "$bin/agtenant" encode "$work/tenant.json" "$root/clagnt.dat"
  before=$(grep -c '"operation":"register"' "$work/journal.jsonl" 2>/dev/null || true)
  t0=$(now_ms)
  "$bin/agentsvc" --root "$root" --machine-root "$work/machine" >"$work/agentsvc$round.out" 2>&1 &
  pid=$!
  until [ "$(grep -c '"operation":"register"' "$work/journal.jsonl" 2>/dev/null || true)" -gt "$before" ]; do sleep 0.005; done
  startup+=($(( $(now_ms) - t0 )))
  if [ "$round" -eq 1 ]; then
    sleep 15  # let the first cycle and its status pushes finish
    read -r ut0 st0 < <(awk '{print $14, $15}' "/proc/$pid/stat")
    sleep 60
    read -r ut1 st1 < <(awk '{print $14, $15}' "/proc/$pid/stat")
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    ticks=$(getconf CLK_TCK)
    echo "idle over 60 s: CPU $(( (ut1 + st1 - ut0 - st0) * 1000 / ticks )) ms, resident memory ${rss} kB"
  fi
  t1=$(now_ms)
  kill -TERM "$pid"
  wait "$pid" || true
  cleanup+=($(( $(now_ms) - t1 )))
done
echo "start-up to first registration request: median $(printf '%s\n' "${startup[@]}" | median) ms over $rounds rounds"
echo "clean-up: median $(printf '%s\n' "${cleanup[@]}" | median) ms over $rounds rounds"
