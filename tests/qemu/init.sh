#!/bin/sh
# /init of the QEMU rig's guest: mounts what the drivers need, then runs /rig/runs, which
# run-rig writes: it loads the parallel-port modules and makes the runs, each framed as
# "=== begin NAME" ... "=== end NAME rc=N" on the console for the host to read, with what the
# run wrote to standard error after its standard output, each line marked "stderr: ".
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t securityfs securityfs /sys/kernel/security
dmesg -n 1 # kernel messages stay out of the runs' output; a run reads dmesg when it needs them

# run NAME COMMAND...: runs COMMAND without input.
run() {
  name=$1
  shift
  echo "=== begin $name"
  "$@" </dev/null 2>/tmp/stderr
  rc=$?
  sed 's/^/stderr: /' /tmp/stderr
  echo "=== end $name rc=$rc"
}

# credentials_during_a_move COMMAND...: COMMAND, a move, in the background; once its worker
# thread runs, each thread's user and capability sets as "creds" lines, then the move stopped
# as the operator would stop it.
credentials_during_a_move() {
  "$@" &
  pid=$!
  while [ "$(find "/proc/$pid/task" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)" -lt 2 ] &&
    kill -0 $pid 2>/dev/null; do
    sleep 0.1
  done
  for task in "/proc/$pid/task"/*; do
    grep -E '^(Uid|CapPrm|CapEff):' "$task/status" | tr -s '\t' ' ' | sed 's/^/creds /'
  done
  kill -TERM $pid
  wait $pid
}

# shared_with_lp COMMAND...: COMMAND on parport0 while lp has registered there, after who has
# registered, and with what the kernel said to the exclusive claim.
shared_with_lp() {
  ls -1 /proc/sys/dev/parport/parport0/devices
  "$@"
  rc=$?
  dmesg | grep -o 'cannot grant exclusive access for device ppdev0'
  return $rc
}

. /rig/runs
echo "=== rig done"
poweroff -f
