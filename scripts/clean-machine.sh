#!/usr/bin/env bash
# Tries the README's commands on a truly clean Debian 12, as a new user would find it:
#   1. a minbase bookworm root made with debootstrap (git added, nothing else);
#   2. a clone of this checkout's HEAD there, and `bash scripts/test.sh` run in it with a bare
#      environment (no locale, no variables of ours);
#   3. `bash scripts/package.sh` there, then the package installed with apt into a second fresh
#      root, where `vantero-cli --help` and a small command-line session against a loopback page
#      server must work and the systemd units must pass `systemd-analyze verify`.
# Prints the packages, download size and time of every step; exits non-zero on any failure.
# Needs root (debootstrap, chroot, mounts) and the network to the Debian mirror.
# Usage: scripts/clean-machine.sh [--keep] [--deb FILE] [SCRATCH_FOLDER]
#   SCRATCH_FOLDER (default: a new folder under /var/tmp) holds the roots; it is removed at the end
#   unless --keep is given. --deb skips 2. and tries that package file on a fresh root (quick,
#   after a change of the package only). DEBIAN_MIRROR overrides the mirror (default
#   http://deb.debian.org/debian).
set -euo pipefail

keep=0
given_deb=
while [ $# -gt 0 ]; do
    case $1 in
    --keep) keep=1 ;;
    --deb)
        given_deb=$(realpath "${2:?--deb needs a file}")
        shift
        ;;
    *) break ;;
    esac
    shift
done
src=$(cd "$(dirname "$0")/.." && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "clean-machine.sh: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
for tool in debootstrap git; do
    command -v "$tool" >/dev/null || { echo "clean-machine.sh: $tool is missing (apt-get install $tool)" >&2; exit 1; }
done
if [ $# -gt 0 ]; then
    scratch=$(realpath -m "$1")
    mkdir -p "$scratch"
else
        scratch=$(mktemp -d /var/tmp/vantero-clean.XXXXXX)
fi
commit=$(git -C "$src" rev-parse HEAD)
[ -z "$(git -C "$src" status --porcelain --untracked-files=no)" ] ||
    echo "clean-machine.sh: the checkout has uncommitted changes; only HEAD ($commit) is tried" >&2

summary=()
log() { printf '[%(%H:%M:%S)T] %s\n' -1 "$*" >&2; }
record() { summary+=("$(printf '%-34s %5ss  %s' "$1" "$2" "$3")"); }

# --- mounts: every root's proc, sys and dev are mounted only while it is used, and always unmounted
mounted=()
mount_root() {
    local root=$1
    mount -t proc proc "$root/proc"
    mounted+=("$root/proc")
    mount -t sysfs sysfs "$root/sys"
    mounted+=("$root/sys")
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
    mounted+=("$root/dev")
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
}
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -R "${mounted[i]}" 2>/dev/null || umount -R -l "${mounted[i]}" 2>/dev/null || true
    done
    mounted=()
}
finish() {
    local status=$?
    unmount_all
    if grep -qF " $scratch/" /proc/self/mounts; then
        echo "clean-machine.sh: something is still mounted under $scratch; left in place" >&2
        status=1
    elif [ "$keep" -eq 0 ]; then
        rm -rf --one-file-system "$scratch"
    fi
    echo
    echo "Clean machine, commit $commit, $(date -u '+%Y-%m-%d %H:%M UTC'):"
    printf '  %s\n' "${summary[@]}"
    if [ "$status" -eq 0 ]; then echo "RESULT: passed"; else echo "RESULT: FAILED (status $status)"; fi
    [ "$keep" -eq 0 ] || echo "roots kept in $scratch"
    exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

# Runs a command inside a root with a bare login-like environment: no locale, none of ours.
in_root() {
    local root=$1
    shift
    env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
        chroot "$root" /bin/bash -c "$*"
}
package_count() { chroot "$1" dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed'; }
# apt's own figure of what it fetched, summed over every apt run in a log ("Need to get 1,234 kB").
download_size() {
    grep -oE 'Need to get [0-9.,]+ [kMG]?B' "$1" | awk '
        { n = $4; gsub(",", "", n); u = $5
          if (u == "kB") n *= 1e3; else if (u == "MB") n *= 1e6; else if (u == "GB") n *= 1e9
          sum += n }
        END { printf "%.1f MB", sum / 1e6 }'
}

# --- 1. the clean root
base="$scratch/base"
log "debootstrap --variant=minbase bookworm into $base"
start=$SECONDS
mkdir -p "$base"
debootstrap --variant=minbase --keep-debootstrap-dir bookworm "$base" "$mirror" >"$scratch/debootstrap.log" 2>&1 ||
    { tail -n 30 "$scratch/debootstrap.log" >&2; exit 1; }
fetched=$(cat "$base"/var/cache/apt/archives/*.deb 2>/dev/null | wc -c)
rm -f "$base"/var/cache/apt/archives/*.deb
rm -rf "$base/debootstrap"
record "debootstrap minbase bookworm" $((SECONDS - start)) \
    "$(package_count "$base") packages, $(awk -v b="$fetched" 'BEGIN { printf "%.1f MB", b / 1e6 }') downloaded"
echo "deb $mirror bookworm main" >"$base/etc/apt/sources.list"

if [ -n "$given_deb" ]; then
    mv "$base" "$scratch/install"
    cp "$given_deb" "$scratch/install/root/"
    deb=$given_deb
else
    # The second root starts from the same clean state.
    cp -a "$base" "$scratch/install"
    build="$base"

    # --- 2. git, a clone of HEAD, and the README's test command as a new user runs it
    mount_root "$build"
    log "apt-get install git"
    start=$SECONDS
    in_root "$build" 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends git ca-certificates' \
        >"$scratch/git.log" 2>&1 || { tail -n 30 "$scratch/git.log" >&2; exit 1; }
    record "apt-get install git" $((SECONDS - start)) "$(package_count "$build") packages in all, $(download_size "$scratch/git.log")"

    git -C "$src" bundle create "$build/root/vantero.bundle" HEAD >/dev/null 2>&1
    in_root "$build" 'git -c advice.detachedHead=false clone -q /root/vantero.bundle /root/vantero && rm /root/vantero.bundle'

    log "bash scripts/test.sh (set-up, full build, every test; log: $scratch/test.log)"
    start=$SECONDS
    before=$(package_count "$build")
    test_status=0
    in_root "$build" 'cd /root/vantero && bash scripts/test.sh' >"$scratch/test.log" 2>&1 || test_status=$?
    record "bash scripts/test.sh" $((SECONDS - start)) \
        "+$(($(package_count "$build") - before)) packages, $(download_size "$scratch/test.log"); $(grep -E 'tests passed' "$scratch/test.log" | tail -n 1)"
    if [ "$test_status" -ne 0 ]; then
        grep -E 'Could NOT|Error|FAIL|\*\*\*Failed|Failed  ' "$scratch/test.log" | tail -n 40 >&2 || tail -n 40 "$scratch/test.log" >&2
        exit 1
fi

log "bash scripts/package.sh"
start=$SECONDS
in_root "$build" 'cd /root/vantero && bash scripts/package.sh' >"$scratch/package.log" 2>&1 ||
    { tail -n 40 "$scratch/package.log" >&2; exit 1; }
deb=$(ls "$build"/root/vantero/build/vantero_*.deb)
record "bash scripts/package.sh" $((SECONDS - start)) "$(basename "$deb"), $(du -k "$deb" | cut -f1) kB"
cp "$deb" "$scratch/install/root/"
unmount_all
fi

# --- 3. the package on a second fresh root
inst="$scratch/install"
mount_root "$inst"
log "apt install ./$(basename "$deb") into the second root"
start=$SECONDS
before=$(package_count "$inst")
in_root "$inst" "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y /root/$(basename "$deb")" \
    >"$scratch/install.log" 2>&1 || { tail -n 30 "$scratch/install.log" >&2; exit 1; }
record "apt install the package" $((SECONDS - start)) \
    "+$(($(package_count "$inst") - before)) packages, $(download_size "$scratch/install.log")"

log "vantero-cli --help, --version and a session against a loopback page server"
start=$SECONDS
in_root "$inst" 'vantero-cli --help' >"$scratch/help.txt" 2>&1 || { cat "$scratch/help.txt" >&2; exit 1; }
grep -q '^用法: vantero-cli' "$scratch/help.txt" || { cat "$scratch/help.txt" >&2; exit 1; }
in_root "$inst" 'vantero-cli --version' | grep -qE '^vantero-cli [0-9]' || { echo "vantero-cli --version" >&2; exit 1; }
# The page server is busybox's httpd, a tool of this check only, installed after the package so
# the package's own dependencies were judged without it.
in_root "$inst" 'DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends busybox systemd man-db' \
    >"$scratch/tools.log" 2>&1 || { tail -n 30 "$scratch/tools.log" >&2; exit 1; }
mkdir -p "$inst/srv/pages" "$inst/srv/session"
cp "$src/tests/data/pages/tb2017-item-45383717461.excerpt.gbk.html" "$inst/srv/pages/item.htm"
port=$((20000 + RANDOM % 20000))
cat >"$inst/srv/session.sh" <<EOF
set -eu
busybox httpd -f -p 127.0.0.1:$port -h /srv/pages &
server=\$!
trap 'kill \$server' EXIT
sleep 1
cd /srv/session
vantero-cli settings --own-account 'amz品牌工作室'
vantero-cli read-item 'http://127.0.0.1:$port/item.htm?id=45383717461' > read.txt
vantero-cli grid --csv > grid.csv
vantero-cli update-all > update.txt
EOF
in_root "$inst" 'bash /srv/session.sh' >"$scratch/session.log" 2>&1 || { cat "$scratch/session.log" >&2; exit 1; }
session_ok=1
grep -q '^ItemID: 45383717461' "$inst/srv/session/read.txt" || session_ok=0
grep -q '75' "$inst/srv/session/grid.csv" || session_ok=0
grep -q 'readings=1 stored=1 refused=0 failed=0' "$inst/srv/session/update.txt" || session_ok=0
ls "$inst/srv/session" | grep -qE -- '-(wal|shm)$' && session_ok=0
if [ "$session_ok" -ne 1 ]; then
    cat "$scratch/session.log" "$inst"/srv/session/*.txt "$inst/srv/session/grid.csv" >&2
    ls -la "$inst/srv/session" >&2
    exit 1
fi
record "CLI session (read, grid, update-all)" $((SECONDS - start)) "item read and stored, database closed clean"

log "systemd-analyze verify the user units"
start=$SECONDS
in_root "$inst" 'cd /usr/lib/systemd/user && systemd-analyze verify vantero-update.service vantero-update.timer' \
    >"$scratch/verify.log" 2>&1 || { cat "$scratch/verify.log" >&2; exit 1; }
if [ -s "$scratch/verify.log" ]; then
    cat "$scratch/verify.log" >&2
    exit 1
fi
record "systemd-analyze verify" $((SECONDS - start)) "vantero-update.service and .timer: no findings"
