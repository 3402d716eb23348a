#!/bin/sh
# /init of the QEMU rig's guest: mounts what the drivers need, then runs /rig/runs, which
# run-rig writes: it loads the parallel-port modules and makes the runs, each framed as
# "=== begin NAME" ... "=== end NAME rc=N" on the console for the host to read.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t securityfs securityfs /sys/kernel/security
dmesg -n 1 # kernel messages stay out of the runs' output; a run reads dmesg when it needs them

# run NAME INPUT COMMAND...: runs COMMAND with INPUT on standard input.
run() {
  name=$1
  input=$2
  shift 2
  echo "=== begin $name"
  "$@" <"$input" 2>&1
  echo "=== end $name rc=$?"
}

. /rig/runs
echo "=== rig done"
poweroff -f
