#!/usr/bin/env bash
# A short receive and send test under valgrind's memcheck: no invalid read or
# write and no definite or possible leak. What stays reachable at exit is the
# set of objects kept on purpose until the process ends: the test runner with
# its facade and result callback, and the library log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
"$root/scripts/install-deps.sh" valgrind
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build"
pulvo="$root/build/src/app/pulvo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
port=$(free_port)
memcheck=(valgrind --quiet --leak-check=full --show-leak-kinds=definite,possible
          --errors-for-leak-kinds=definite,possible --error-exitcode=99)
cd "$work"
"${memcheck[@]}" --log-file=recv.log "$pulvo" -j -l "recv:ws=2,sai=1,to=10,lp=$port" > recv.out &
receiver=$!
wait_udp_port "$port"
# Both statuses are collected before anything can stop the script, so that
# the logs below are printed whatever memcheck found.
send_status=0
"${memcheck[@]}" --log-file=send.log "$pulvo" -j -l "send:td=4,sai=1,rp=$port,lp=$(free_port)" \
  > send.out || send_status=$?
recv_status=0
wait "$receiver" || recv_status=$?
for side in send recv; do
  echo "== pulvo $side under memcheck =="
  cat "$side.out"
  cat "$side.log"
done
echo "exit codes: send $send_status, recv $recv_status"
[ "$send_status" -eq 0 ] && [ "$recv_status" -eq 0 ]
