# Sourced by the scripts that check the project on a fresh Debian root (run as root):
#   fresh_root RELEASE FOLDER   a minimal root made with debootstrap, kept for the next call
#   in_root FOLDER COMMAND      runs a bash command inside it, with /proc, /sys and /dev mounted
# The archive is the one this machine's apt uses (scripts/apt-archive.sh), and so is its proxy.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/apt-archive.sh"

fresh_root() {
    local release=$1 root=$2 archive proxy
    command -v debootstrap >/dev/null || { apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null; }
    archive=$(debian_archive)
    proxy=$(apt_proxy)
    if [ ! -x "$root/usr/bin/apt-get" ]; then
        rm -rf "$root"
        http_proxy=${proxy:-${http_proxy:-}} debootstrap --variant=minbase "$release" "$root" "$archive" >/dev/null
    fi
    if [ -n "$proxy" ]; then
        echo "Acquire::http::Proxy \"$proxy\";" >"$root/etc/apt/apt.conf.d/90host-proxy"
    fi
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    # The host's trusted certificates, for a network whose proxy presents its own.
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/host-ca-certificates.crt"
}

in_root() {
    local root=$1 command=$2 status=0 m
    local mounts=(proc sys dev dev/pts)
    for m in "${mounts[@]}"; do mount --bind "/$m" "$root/$m"; done
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        NODE_EXTRA_CA_CERTS=/etc/host-ca-certificates.crt /bin/bash -euo pipefail -c "$command" || status=$?
    for ((m = ${#mounts[@]} - 1; m >= 0; m--)); do umount -l "$root/${mounts[m]}" 2>/dev/null || true; done
    return "$status"
}
