#!/bin/bash
# The mount service against the running server, in a network namespace of
# its own (root, else skipped with 77):
#   mount_test.sh native|wine SERVER CLIENT
# with showmount, rpcinfo and CLIENT (the raw MOUNT client): export lists
# (-hide, -name:, FilterExports for another caller), MNT and its refusals,
# one record for every spelling of a folder, mounts kept in mounttab across
# restarts (never a TCP one), UMNT and UMNTALL.
set -u
mode=${1:?native or wine}
server=${2:?server program}
client=${3:?mount client program}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- showmount rpcinfo

# --- inside the namespace -------------------------------------------------------
# A second loopback address: a caller that is not 127.0.0.1.
ip addr add 127.0.0.2/32 dev lo || fail "cannot add 127.0.0.2"

exports="$work/export"
mkdir -p "$exports/data/sub" "$exports/public" "$exports/hidden" "$exports/private"
visible() { printf '/z%s' "$1"; }  # the clients' form with Lowercase on
win_data=$(windows "$exports/data")
win_public=$(windows "$exports/public")
win_sub=$(windows "$exports/data/sub")
write_setup Log=2 FilterExports=1 Lowercase=1 -- \
  '# exports of the mount test' \
  "$win_data -alldirs -readonly" \
  "$win_public -name:public 127.0.0.1" \
  "$(windows "$exports/hidden") -hide" \
  "$(windows "$exports/private") 127.0.0.5"

# showmount output as "directory groups" lines, blanks squeezed.
exports_seen() { timeout 30 showmount --no-headers -e "$1" | tr -s ' ' | sed 's/ $//'; }
mounts_seen() { timeout 30 showmount --no-headers -a 127.0.0.1 | sed 's/^[^:]*://' | sort; }
# mounttab's records once its changes are replayed: "address paths" each.
mounttab() {
  tr -d '\r' < "$data/mounttab" 2>/dev/null | awk '
    /^-/ { split(substr($0, 2), a, ":"); delete live[a[2]]; next }
    { split($1, a, ":"); if (!(a[2] in live)) order[++n] = a[2]; live[a[2]] = a[1] " " substr($0, length($1) + 2) }
    END { for (i = 1; i <= n; i++) if (order[i] in live) print live[order[i]] }'
}

start_server

expect_registered 100005 "1 2 3" "udp tcp" 1058

# --- export lists ----------------------------------------------------------------
seen=$(exports_seen 127.0.0.1) || fail "showmount -e 127.0.0.1 failed"
echo "$seen"
expected="$(visible "$exports/data") -readonly,-alldirs
/public 127.0.0.1
$(visible "$exports/private") 127.0.0.5"
[ "$seen" = "$expected" ] || fail "showmount -e 127.0.0.1 gave
$seen
instead of
$expected"

# From 127.0.0.2 with FilterExports: only what that caller may mount.
seen=$(exports_seen 127.0.0.2) || fail "showmount -e 127.0.0.2 failed"
echo "$seen"
[ "$seen" = "$(visible "$exports/data") -readonly,-alldirs" ] || fail "showmount -e 127.0.0.2 gave
$seen"

# --- MNT through the raw client ---------------------------------------------------
out=$(run_client "$client" 1058 mnt 3 udp "$(visible "$exports/data")") || fail "MNT failed: $out"
echo "$out"
handle_of() { echo "$1" | sed -n 's/^handle //p'; }
echo "$out" | grep -q '^status 0' || fail "MNT of the export: $out"
id=$(handle_of "$out")
[ ${#id} = 40 ] || fail "the version 3 handle is not FHsize (20) bytes"
echo "$out" | grep -q '^flavors 1:1' || fail "the flavour list is not AUTH_UNIX alone"

out=$(run_client "$client" 1058 mnt 1 udp /public) || fail "MNT v1 failed: $out"
echo "$out" | grep -q '^status 0' || fail "MNT of /public: $out"
public_id=$(handle_of "$out")
[ ${#public_id} = 64 ] || fail "the version 1 handle is not 32 bytes"

# No way out of an export: ".", ".." and empty components are refused
# (MNT3ERR_INVAL) before the export table is asked.
root=$(visible "$exports/data")
for bad in "$root/../private" "$root/sub/.." "$root/./sub" "$root//sub" "$root/sub/.. " "$root/sub/..."; do
  out=$(run_client "$client" 1058 mnt 3 udp "$bad")
  echo "$out" | grep -q '^status 22' || fail "MNT of $bad: $out"
done
# Spellings of one folder: one record, one id.
out=$(run_client "$client" 1058 mnt 3 udp "$root/sub") || fail "MNT of the subfolder failed"
sub_id=$(handle_of "$out")
for spelling in "$root/sub/" "$root/sub." "$root/sub. " "$root/SUB"; do
  out=$(run_client "$client" 1058 mnt 3 udp "$spelling")
  [ "$(handle_of "$out")" = "$sub_id" ] || fail "MNT of $spelling: $out"
done
run_client "$client" 1058 umnt 3 udp "$root/Sub." >/dev/null || fail "UMNT of the subfolder failed"
out=$(run_client "$client" 1058 mnt 3 udp "$(visible "$exports/private")")
echo "$out" | grep -q '^status 13' || fail "MNT of an export for another client: $out"
out=$(run_client "$client" 1058 mnt 3 udp /nowhere)
echo "$out" | grep -q '^status 2' || fail "MNT of an unexported path: $out"

seen=$(mounts_seen) || fail "showmount -a failed"
echo "$seen"
expected="$(visible "$exports/data")
$(visible "$exports/public")"
[ "$seen" = "$expected" ] || fail "showmount -a gave
$seen"
[ "$(mounttab | sort)" = "$(printf '7f000001 %s\n7f000001 %s' "$win_data" "$win_public" | sort)" ] ||
  fail "mounttab holds
$(mounttab)"

# --- restart: the mounts come back from mounttab ------------------------------------
stop_server
start_server
seen=$(mounts_seen) || fail "showmount -a after the restart failed"
[ "$seen" = "$expected" ] || fail "after the restart showmount -a gave
$seen"
out=$(run_client "$client" 1058 mnt 3 udp "$(visible "$exports/data")") || fail "MNT after the restart failed"
[ "$(handle_of "$out")" = "$id" ] || fail "the handle changed across the restart"

# --- UMNT, a restart after it, a TCP mount, UMNTALL -------------------------------------
run_client "$client" 1058 umnt 3 udp "$(visible "$exports/data")" >/dev/null || fail "UMNT failed"
seen=$(mounts_seen)
[ "$seen" = "$(visible "$exports/public")" ] || fail "after UMNT showmount -a gave
$seen"
[ "$(mounttab)" = "7f000001 $win_public" ] || fail "after UMNT mounttab holds
$(mounttab)"
# The other mount keeps its id across a restart after the unmount.
stop_server
start_server
out=$(run_client "$client" 1058 mnt 1 udp /public) || fail "MNT of /public after the restart failed"
[ "$(handle_of "$out")" = "$public_id" ] || fail "/public changed its handle: $out"

out=$(run_client "$client" 1058 mnt 3 tcp "$(visible "$exports/data/sub")") || fail "MNT over TCP failed"
echo "$out" | grep -q '^status 0' || fail "MNT of a subfolder over TCP: $out"
seen=$(mounts_seen)
[ "$seen" = "$(visible "$exports/data/sub")
$(visible "$exports/public")" ] || fail "after the TCP mount showmount -a gave
$seen"
mounttab | grep -qF "$win_sub" && fail "the TCP mount went into mounttab"

run_client "$client" 1058 umntall 1 udp >/dev/null || fail "UMNTALL failed"
seen=$(mounts_seen)
[ -z "$seen" ] || fail "after UMNTALL showmount -a gave
$seen"
[ -z "$(mounttab)" ] || fail "after UMNTALL mounttab holds
$(mounttab)"

stop_server
echo "PASS: $mode mount"
