#!/usr/bin/env bash
# Checks that a fresh Debian machine passes ./test.sh and ./run.sh: builds a
# minimal Debian bookworm root (mmdebstrap), clones the committed branch main of
# this repository into it, and runs both scripts there as root, with a clean
# environment and no display (so run.sh writes its snapshot). Needs root,
# Debian's package servers and about 20 minutes (2 cores). Not part of ./test.sh.
#
#   tools/check-fresh-machine.sh [--keep] [--dir DIR]
#
#   --keep     leave the root in place afterwards (its path is printed)
#   --dir DIR  build the root in DIR (new or empty) instead of a temporary folder
#
# Exit status 0 only when both scripts passed.
set -uo pipefail

keep=0
root=""
while [ $# -gt 0 ]; do
  case $1 in
    --keep) keep=1 ;;
    --dir) [ $# -ge 2 ] || { echo "--dir needs a folder" >&2; exit 2; }; root=$2; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "Unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ "$(id -u)" -ne 0 ]; then
  echo "This check needs root (it builds a Debian root and mounts /proc, /sys and /dev into it)." >&2
  exit 2
fi

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel) || exit 2
git -C "$repo" rev-parse --verify -q main >/dev/null || { echo "$repo has no branch main" >&2; exit 2; }

if ! command -v mmdebstrap >/dev/null; then
  echo "Installing mmdebstrap"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap ||
    { echo "Could not install mmdebstrap." >&2; exit 2; }
fi

if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/solsys-fresh.XXXXXX) || exit 2
else
  mkdir -p "$root" || exit 2
  root=$(cd "$root" && pwd)
  if [ -n "$(ls -A "$root")" ]; then
    echo "$root is not empty." >&2
    exit 2
  fi
fi
[ "$root" != / ] || exit 2

mounted=()  # mount points inside the root, in the order they were mounted

mounts_below_root() { awk -v r="$root/" 'index($2 "/", r) == 1 { print $2 }' /proc/self/mounts; }

stop_processes_in_root() {  # anything started inside the root that is still running (Xvfb, say)
  local proc pid
  for proc in /proc/[0-9]*; do
    pid=${proc#/proc/}
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null
  done
  return 0
}

cleanup() {
  local i left
  trap - EXIT INT TERM HUP
  rm -f "${output:-}"
  stop_processes_in_root
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null ||
      echo "Could not unmount ${mounted[i]}" >&2
  done
  left=$(mounts_below_root)
  if [ -n "$left" ]; then
    echo "Still mounted, so the root is kept: $left" >&2
  elif [ "$keep" -eq 1 ]; then
    echo "The root is kept: $root"
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mount_in_root() {  # target below the root, then mount's own arguments
  local target=$root$1; shift
  mkdir -p "$target" && mount "$@" "$target" || return 1
  mounted+=("$target")
  mount --make-private "$target" 2>/dev/null || true  # so unmounting it never reaches the host's mounts
}

elapsed() { printf '%dm %02ds' $(($1 / 60)) $(($1 % 60)); }

echo "== Building a Debian bookworm root in $root =="
start=$SECONDS
if ! mmdebstrap --variant=apt --include=ca-certificates,git bookworm "$root" </dev/null; then
  echo "mmdebstrap failed." >&2
  exit 2
fi
echo "Root built in $(elapsed $((SECONDS - start)))."

echo "== Cloning main of $repo =="
git clone -q --branch main --single-branch "$repo" "$root/root/solsys" || exit 2
echo "Commit: $(git -C "$root/root/solsys" log -1 --format='%h %s')"

mount_in_root /proc -t proc proc || exit 2
mount_in_root /sys -t sysfs sysfs || mount_in_root /sys --bind /sys || exit 2
mount_in_root /dev --bind /dev || exit 2
mount_in_root /dev/pts --bind /dev/pts || exit 2
mount_in_root /dev/shm -t tmpfs -o mode=1777,nosuid,nodev shm || exit 2
cp -L /etc/resolv.conf "$root/etc/resolv.conf" || exit 2
# A chroot runs no init: package scripts must not start services in it.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 755 "$root/usr/sbin/policy-rc.d"

run_in_root() {  # command line, run as root in the clone with a clean environment
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    TERM="${TERM:-dumb}" LANG=C.UTF-8 chroot "$root" /bin/bash -c "cd /root/solsys && $1" </dev/null
}

results=()
failures=0
output=$(mktemp)
for script in ./test.sh ./run.sh; do
  echo "== $script in the fresh root =="
  start=$SECONDS
  run_in_root "$script" 2>&1 | tee "$output"
  status=${PIPESTATUS[0]}
  took=$(elapsed $((SECONDS - start)))
  if [ "$status" -eq 0 ]; then
    results+=("$script: passed ($took)")
  else
    results+=("$script: FAILED with status $status ($took)")
    failures=$((failures + 1))
    # CTest's lists of failed tests ("  12 - Suite.Name (Failed)"), each name once
    while read -r line; do results+=("    $line"); done < <(grep -E '^[[:space:]]+[0-9]+ - ' "$output" | sort -u)
  fi
  stop_processes_in_root
done

echo "== Fresh Debian bookworm machine, commit $(git -C "$root/root/solsys" log -1 --format=%h) =="
printf '%s\n' "${results[@]}"
rm -f "$output"
[ "$failures" -eq 0 ]
