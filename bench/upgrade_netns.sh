#!/usr/bin/env bash
# Runs COMMAND in a new private network namespace with one veth pair (10.77.0.1 on vx0a,
# 10.77.0.2 on vx0b), like tests/netns-run --veth 1, but without a user namespace: in.tftpd
# calls setgroups(), which a user namespace refuses. Needs root; nothing leaves the namespace.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "upgrade_netns.sh: needs root (in.tftpd's setgroups)" >&2; exit 2; }
exec unshare -n --kill-child bash -c '
  set -e
  here=$(readlink /proc/self/ns/net)
  [ "$here" != "$0" ] || { echo "not in a new namespace" >&2; exit 2; }
  ip link set lo up
  ip link add vx0a type veth peer name vx0b
  ip addr add 10.77.0.1/24 dev vx0a
  ip addr add 10.77.0.2/24 dev vx0b
  for s in all default vx0a vx0b; do
    echo 0 > /proc/sys/net/ipv4/conf/$s/rp_filter; echo 1 > /proc/sys/net/ipv4/conf/$s/accept_local
  done
  ip link set vx0a up; ip link set vx0b up; sleep 0.2
  exec "${@:1}"' "$(readlink /proc/self/ns/net)" "$@"
