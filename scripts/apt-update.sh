# apt-update.sh -- sourced: apt_update, which reads the package lists and goes on past an index it cannot read
# A mirror that is syncing, or a cache in front of one, can serve an index whose size does not match its Release
# file; apt-get update then exits non-zero although every other list was read. The update is tried again a few
# times with a pause between the tries; after the last one the lists that were read are used, and a warning names
# each index that failed. What can then be installed or downloaded decides, not the update's exit code.
apt_update_tries=${APT_UPDATE_TRIES:-3}
apt_unread=""

# apt_update LOG NAME: apt-get update under the caller's apt configuration, its output in LOG. Always returns 0.
# apt_unread names each index that could not be read, "suite index (apt's reason)" a line; empty when all were.
apt_update() {
    local log=$1 name=$2 try pause=5
    for ((try = 1; ; try++)); do
        if apt-get -qq update >"$log" 2>&1 && ! grep -q '^[WE]: Failed to fetch' "$log"; then
            apt_unread=""
            return 0
        fi
        # "E: Failed to fetch http://host/path/dists/SUITE/INDEX  REASON [IP: ...]": the suite, the index, the reason.
        apt_unread=$(sed -n -e 's/ *\[IP: [^]]*\] *$//' \
            -e 's|^[WE]: Failed to fetch [^ ]*/dists/\([^/ ]*\)/\([^ ]*\) *\(.*\)$|\1 \2 (\3)|p' "$log")
        [ -n "$apt_unread" ] || apt_unread=$(grep -m 1 '^E: ' "$log")
        [ "$try" -lt "$apt_update_tries" ] || break
        sleep "$pause"
        pause=$((pause * 2))
    done
    while IFS= read -r index; do
        echo "$name: warning: this index could not be read in $try $([ "$try" = 1 ] && echo try || echo tries):" \
            "$index; going on with the lists that were read" >&2
    done <<<"$apt_unread"
    return 0
}

# apt_unread_cause: a clause for a failure line, naming the indexes that could not be read; empty when all were.
apt_unread_cause() {
    [ -z "$apt_unread" ] || printf '; likely cause, an index that could not be read: %s' "$(awk 'NR > 1 {printf "; "} {printf "%s", $0}' <<<"$apt_unread")"
}
