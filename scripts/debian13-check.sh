#!/usr/bin/env bash
# Builds and tests a clean clone of this repository's HEAD in a Debian 13 (trixie) chroot,
# exactly as CI does (`CI=true bash .ci/run`: warnings are errors) and with no locale set,
# so a deprecation in a newer Qt, GCC or FFmpeg is seen before users see it.
#   scripts/debian13-check.sh [CHROOT_DIR]      as root; CHROOT_DIR defaults to /var/tmp/murmel-trixie
# The chroot is made once with debootstrap and kept (its packages make later runs quicker);
# each run clones HEAD afresh into it, so commit before running.
# The mirror is the one this machine's apt uses (override with MURMEL_DEBIAN_MIRROR);
# extra CA certificates this machine trusts (a TLS proxy's) are copied in, so npm can fetch.
# Takes about 30 minutes on two cores the first time.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
target=${1:-/var/tmp/murmel-trixie}
suite=trixie

((EUID == 0)) || { echo "error: run as root (debootstrap and chroot need it)" >&2; exit 2; }

# The first URI of the host's apt sources that serves the Debian archive itself.
host_mirror() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -f $file ]] || continue
        awk '/^URIs:/ {for (i = 2; i <= NF; i++) print $i}
             /^deb / {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; break}}' "$file"
    done | awk '!found && /\/debian\/?$/ {print; found = 1}'
}
mirror=${MURMEL_DEBIAN_MIRROR:-$(host_mirror)}
[[ -n $mirror ]] || { echo "error: no Debian mirror in apt's sources; set MURMEL_DEBIAN_MIRROR" >&2; exit 2; }
mirror=${mirror%/}

if [[ ! -x $target/usr/bin/apt-get ]]; then
    command -v debootstrap >/dev/null || {
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    }
    echo "Creating a Debian 13 chroot in $target from $mirror"
    debootstrap --variant=minbase --include=ca-certificates,git,make "$suite" "$target" "$mirror" \
        >"$target.debootstrap.log" 2>&1 || {
        echo "error: debootstrap failed; see $target.debootstrap.log" >&2
        exit 1
    }
    cat >"$target/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
EOF
fi

# A proxy's certificate authority, trusted here, is needed there for npm's fetch.
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
    cp /usr/local/share/ca-certificates/*.crt "$target/usr/local/share/ca-certificates/"
    chroot "$target" update-ca-certificates >/dev/null 2>&1
fi

mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
mount_in() { # mount_in TYPE SOURCE DIR [OPTIONS]; one left by an interrupted run is reused
    mkdir -p "$target$3"
    mountpoint -q "$target$3" && return
    mount -t "$1" ${4:+-o "$4"} "$2" "$target$3"
    mounts+=("$target$3")
}
mount_in proc proc /proc
mount_in sysfs sys /sys
mount_in devtmpfs udev /dev
mount_in devpts devpts /dev/pts gid=5,mode=620
mount_in tmpfs shm /dev/shm
mount_in tmpfs tmp /tmp

# A fresh clone, as CI makes one.
work=/root/murmel
rm -rf "$target$work"
git clone --quiet "$root" "$target$work"

echo "Building and testing $(git -C "$root" rev-parse --short HEAD) on Debian 13"
status=0
# env -i: no LANG, no LC_*, as in a container or a systemd unit.
chroot "$target" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root CI=true NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt \
    bash -c "cd $work && bash .ci/run" || status=$?

if ((status == 0)); then
    echo "Debian 13: all tests passed"
else
    echo "Debian 13: failed (exit $status); the tree is in $target$work" >&2
fi
exit "$status"
