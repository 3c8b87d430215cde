# Sourced by the scripts that fetch from Debian: the archive this machine's own apt uses, so that
# they go through whatever mirror or proxy the machine is set up for.
#   debian_archive   prints the address of the archive that serves this machine's release
#   apt_proxy        prints apt's HTTP proxy, if one is set
# shellcheck shell=bash

debian_archive() {
    local codename uri
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { echo "no release name in /etc/os-release" >&2; return 1; }
    # deb822 files first (one paragraph per entry), then the one-line format. The entry of the
    # release itself, not of its -security or -updates suites, which live elsewhere on some mirrors.
    uri=$(for file in /etc/apt/sources.list.d/*.sources; do [ -f "$file" ] && { cat "$file"; echo; }; done |
        awk -v codename="$codename" '
            BEGIN { RS = ""; FS = "\n" }
            {
                types = ""; uris = ""; suites = ""; enabled = "yes"
                for (i = 1; i <= NF; i++) {
                    line = $i
                    if (line ~ /^[ \t]*#/) continue
                    split(line, kv, ":")
                    key = tolower(kv[1]); value = substr(line, length(kv[1]) + 2)
                    gsub(/^[ \t]+|[ \t]+$/, "", value)
                    if (key == "types") types = value
                    else if (key == "uris") uris = value
                    else if (key == "suites") suites = value
                    else if (key == "enabled") enabled = tolower(value)
                }
                if (enabled == "no" || (" " types " ") !~ / deb /) next
                n = split(suites, s, /[ \t]+/)
                for (j = 1; j <= n; j++) if (s[j] == codename) { split(uris, u, /[ \t]+/); print u[1]; exit }
            }')
    if [ -z "$uri" ]; then
        uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            sed 's/\[[^]]*\]//' | awk -v codename="$codename" '$1 == "deb" && $3 == codename { print $2; exit }')
    fi
    [ -n "$uri" ] || { echo "apt's configuration names no archive for $codename" >&2; return 1; }
    echo "${uri%/}"
}

apt_proxy() {
    local Proxy=""
    eval "$(apt-config shell Proxy Acquire::http::Proxy)"
    echo "$Proxy"
}
