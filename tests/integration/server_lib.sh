# Shared by the integration scripts (sourced): the caller sets mode, server
# and tools, then calls enter_namespace "$@" -- TOOLS...; inside the
# namespace it has $work, $data and the functions below.

# Re-runs the calling script inside a network namespace of its own (exits 77,
# skipped, when not root).  Usage: enter_namespace "$@" -- TOOL...
enter_namespace() {
  local args=() tool
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the integration tests need root (network namespaces)"
    exit 77
  fi
  for tool in unshare ip "$@"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (tools/install-deps)"; exit 1; }
  done
  if [ "${KORVANE_NETNS_INSIDE:-}" != 1 ]; then
    local flags=()
    [ "$mode" = wine ] && flags=(--wine)
    exec "$tools/netns-run" "${flags[@]}" -- "$0" "${args[@]}"
  fi
  : "${KORVANE_WINE_USER:=korvane-test}"
  # Under Wine the folders served must not lie on a file system mounted below
  # "/" (a tmpfs /tmp): Wine refuses GetVolumeInformation on a volume mounted
  # in a folder (error 144), which Windows allows, so no export there mounts.
  local base=/tmp
  [ "$mode" = wine ] && base=/var/tmp
  work=$(mktemp -d "$base/korvane-it.XXXXXX")
  chmod 755 "$work"
  data="$work/data"
  mkdir -p "$data"
  server_pid=
  trap cleanup EXIT
}

cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -KILL "$server_pid" 2>/dev/null
  fi
  [ -n "${disk_mounted:-}" ] && umount "$disk_mounted"
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*"
  echo "--- server output"; cat "$work/server.out" 2>/dev/null
  echo "--- log"; cat "$data"/nfsd*.log 2>/dev/null | tr -d '\r' | tail -40
  exit 1
}

# Runs COMMAND every tenth of a second until it succeeds, SECONDS at most.
wait_for() {
  local tenths=$(($1 * 10))
  shift
  for _ in $(seq 1 $tenths); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The Windows form of a path: Z: and backslashes.
windows() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }

# The server's data folder ($setup_dir, by default $data): nfsd.ini with
# [nfsd], the settings given and the inode table there; exports with one
# line per argument after "--"; under Wine the exported folders ($exports)
# go to the unprivileged user.
#   write_setup KEY=VALUE... -- EXPORT-LINE...
write_setup() {
  local dir=${setup_dir:-$data}
  mkdir -p "$dir"
  {
    printf '[nfsd]\r\n'
    while [ $# -gt 0 ] && [ "$1" != -- ]; do printf '%s\r\n' "$1"; shift; done
    printf 'InodePath=%s\r\n' "$(windows "$dir/inodes.nfs")"
  } > "$dir/nfsd.ini"
  [ $# -gt 0 ] && shift
  printf '%s\n' "$@" > "$dir/exports"
  if [ "$mode" = wine ] && [ -n "${exports:-}" ]; then
    chown -R "$KORVANE_WINE_USER" "$exports"
  fi
}

# Runs a test client (under Wine in wine mode) and prints its output without
# the CR of a Windows console.
run_client() {
  if [ "$mode" = wine ]; then
    # Streamed, so that a caller watching the output sees each line as the
    # program writes it (the flood's "flooded").
    "$tools/wine-run" "$@" | sed -u 's/\r//g'
    return "${PIPESTATUS[0]}"
  fi
  "$@"
}

# Starts the server on $data in the background and waits for "Ready on Port".
start_server() {
  : > "$work/server.out"
  if [ "$mode" = wine ]; then
    chown -R "$KORVANE_WINE_USER" "$data"
    "$tools/wine-run" "$server" "$(windows "$data")" > "$work/server.out" 2>&1 &
  else
    "$server" "$data" > "$work/server.out" 2>&1 &
  fi
  server_pid=$!
  wait_for 60 ready_or_ended
  server_ended && fail "the server ended at start"
  grep -q "Ready on Port" "$work/server.out" || fail "no \"Ready on Port\" within 60 s"
}

# The server process itself: under Wine the Windows process below runuser.
server_process() {
  if [ "$mode" != wine ]; then
    echo "$server_pid"
    return
  fi
  local target
  target=$(ps -o pid= --ppid "$server_pid" | head -1 | tr -d ' ')
  [ -n "$target" ] || fail "the Windows process of the server was not found"
  echo "$target"
}

# rpcinfo -p lists program PROG in each of VERSIONS over each of PROTOCOLS
# at PORT, and rpcinfo -u or -t gets an answer from each.
#   expect_registered PROG VERSIONS PROTOCOLS PORT
expect_registered() {
  local list vers proto
  list=$(timeout 30 rpcinfo -p 127.0.0.1) || fail "rpcinfo -p failed"
  for vers in $2; do
    for proto in $3; do
      echo "$list" | grep -Eq "^ *$1 +$vers +$proto +$4( |\$)" || fail "rpcinfo -p lacks $1 $vers $proto $4: $list"
      timeout 30 rpcinfo "-${proto:0:1}" 127.0.0.1 "$1" "$vers" >/dev/null || fail "rpcinfo -${proto:0:1} $1 $vers failed"
    done
  done
}

# The server ends at once, as in a crash (SIGKILL).
kill_server() {
  kill -KILL "$(server_process)"
  wait "$server_pid" 2>/dev/null
  server_pid=
}

server_ended() { ! kill -0 "$server_pid" 2>/dev/null; }
ready_or_ended() { grep -q "Ready on Port" "$work/server.out" 2>/dev/null || server_ended; }

# Ctrl+C to the server, which must end with 0 and "Stopped" within 15 s.  The
# signal goes to the server process itself (under Wine it turns into a
# console Ctrl+C).
stop_server() {
  kill -INT "$(server_process)"
  wait_for 15 server_ended || fail "the server did not stop within 15 s of Ctrl+C"
  wait "$server_pid"
  local rc=$?
  server_pid=
  [ $rc = 0 ] || fail "the server ended with $rc after Ctrl+C"
  grep -q "^Stopped" "$work/server.out" || fail "no \"Stopped\" after Ctrl+C"
}
