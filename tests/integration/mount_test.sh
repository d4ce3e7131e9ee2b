#!/bin/bash
# The mount service in a network namespace of its own (root, else skipped with 77):
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
enter_namespace "$@" -- showmount rpcinfo nfs-ls

# --- inside the namespace -------------------------------------------------------
# A second loopback address: a caller that is not 127.0.0.1.
ip addr add 127.0.0.2/32 dev lo || fail "cannot add 127.0.0.2"

exports="$work/export"
mkdir -p "$exports/data/sub" "$exports/public" "$exports/hidden" "$exports/private" "$exports/opts"
visible() { printf '/z%s' "$1"; }  # the clients' form with Lowercase on
win_data=$(windows "$exports/data")
win_public=$(windows "$exports/public")
win_sub=$(windows "$exports/data/sub")
write_setup Log=2 FilterExports=1 Lowercase=1 -- \
  '# exports of the mount test' \
  "$win_data -alldirs -readonly" \
  "$win_public -name:public 127.0.0.1" \
  "$(windows "$exports/hidden") -hide" \
  "$(windows "$exports/private") 127.0.0.5" \
  "$(windows "$exports/opts") -lowercase -exec -umask:027 -sub:95,96 -maproot:7 -mapall:1000:100 -uid:5 127.0.0.1"

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

# MNT of PATH (version VERS, by default 3, over PROTO, by default udp) must
# answer STATUS; prints the handle.   mnt STATUS PATH [VERS [PROTO]]
mnt() {
  local out
  out=$(run_client "$client" 1058 mnt "${3:-3}" "${4:-udp}" "$2" 2>&1)
  # Wine now and then fails to start a program at all: one more start.
  echo "$out" | grep -q '^status \|^no reply\|^results \|^bad result' ||
    out=$(run_client "$client" 1058 mnt "${3:-3}" "${4:-udp}" "$2" 2>&1)
  echo "$out" | grep -q "^status $1\$" || { echo "MNT of $2: $out" >&2; return 1; }
  echo "$out" | sed -n 's/^handle //p'
}
same() { [ "$2" = "$3" ] || fail "$1 gave
$2
instead of
$3"; }

# --- export lists ----------------------------------------------------------------
same "showmount -e 127.0.0.1" "$(exports_seen 127.0.0.1)" "$(visible "$exports/data") -readonly,-alldirs
/public 127.0.0.1
$(visible "$exports/private") 127.0.0.5
$(visible "$exports/opts") 127.0.0.1,-lowercase,-exec,-umask:027,-sub:95,96,-maproot:7,-mapall:1000:100,-uid:5"
# From 127.0.0.2 with FilterExports: only what that caller may mount.
same "showmount -e 127.0.0.2" "$(exports_seen 127.0.0.2)" "$(visible "$exports/data") -readonly,-alldirs"

# --- MNT through the raw client ---------------------------------------------------
root=$(visible "$exports/data")
out=$(run_client "$client" 1058 mnt 3 udp "$root") || fail "MNT failed: $out"
echo "$out"
echo "$out" | grep -q '^flavors 1:1' || fail "the flavour list is not AUTH_UNIX alone"
id=$(mnt 0 "$root") || fail "MNT of the export"
[ ${#id} = 40 ] || fail "the version 3 handle is not FHsize (20) bytes"
public_id=$(mnt 0 /public 1) || fail "MNT v1 of /public"
[ ${#public_id} = 64 ] || fail "the version 1 handle is not 32 bytes"

# No way out of an export: ".", ".." and empty components are refused
# (MNT3ERR_INVAL) before the export table is asked.
for bad in "$root/../private" "$root/sub/.." "$root/./sub" "$root//sub" "$root/sub/.. " "$root/sub/..."; do
  mnt 22 "$bad" >/dev/null || fail "a way out of the export"
done
# Spellings of one folder: one record, one handle.
sub_id=$(mnt 0 "$root/sub") || fail "MNT of the subfolder"
for spelling in "$root/sub/" "$root/sub." "$root/sub. " "$root/SUB"; do
  [ "$(mnt 0 "$spelling")" = "$sub_id" ] || fail "MNT of $spelling reached another record"
done
run_client "$client" 1058 umnt 3 udp "$root/Sub." >/dev/null || fail "UMNT of the subfolder failed"
mnt 13 "$(visible "$exports/private")" >/dev/null || fail "MNT of an export for another client"
mnt 2 /nowhere >/dev/null || fail "MNT of an unexported path"
# The log is written out while the server runs, not only when it stops.
wait_for 5 grep -aq "mount3 error 127.0.0.1:/nowhere" "$data"/nfsd*.log ||
  fail "the refused mount is not in the log while the server runs"

expected="$root
$(visible "$exports/public")"
same "showmount -a" "$(mounts_seen)" "$expected"
same mounttab "$(mounttab | sort)" "$(printf '7f000001 %s\n7f000001 %s' "$win_data" "$win_public" | sort)"

# --- restart: the mounts come back from mounttab ------------------------------------
stop_server
start_server
same "after the restart showmount -a" "$(mounts_seen)" "$expected"
[ "$(mnt 0 "$root")" = "$id" ] || fail "the handle changed across the restart"

# --- UMNT, a restart after it, a TCP mount, UMNTALL -------------------------------------
run_client "$client" 1058 umnt 3 udp "$root" >/dev/null || fail "UMNT failed"
same "after UMNT showmount -a" "$(mounts_seen)" "$(visible "$exports/public")"
same "after UMNT mounttab" "$(mounttab)" "7f000001 $win_public"
# The other mount keeps its handle across a restart after the unmount.
stop_server
start_server
[ "$(mnt 0 /public 1)" = "$public_id" ] || fail "/public changed its handle"

mnt 0 "$root/sub" 3 tcp >/dev/null || fail "MNT of a subfolder over TCP"
same "after the TCP mount showmount -a" "$(mounts_seen)" "$(visible "$exports/data/sub")
$(visible "$exports/public")"
mounttab | grep -qF "$win_sub" && fail "the TCP mount went into mounttab"

run_client "$client" 1058 umntall 1 udp >/dev/null || fail "UMNTALL failed"
same "after UMNTALL showmount -a" "$(mounts_seen)" ""
same "after UMNTALL mounttab" "$(mounttab)" ""

# The substitutes of the export with every option: '_' on disk is ':' to
# clients, '`' is '?'.
touch "$exports/opts/a_b" "$exports/opts/c\`d"
same "nfs-ls of names with substitutes" "$(timeout 30 nfs-ls "nfs://127.0.0.1$(visible "$exports/opts")" |
  awk '{print $NF}' | sort)" "a:b
c?d"

stop_server
echo "PASS: $mode mount"
