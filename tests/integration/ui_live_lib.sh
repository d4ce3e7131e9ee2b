# The checks of the control window against the running services (sourced by
# ui_live_test.sh and tools/ui-screenshots): live_step checks each named step
# of the window's live tests from outside with the system's own clients and
# answers through the step's request file.

# live_setup WORK MODE: the data folder ($live_data) with nfsd.ini and an
# exports file naming $live_exports/data; MODE "user" gives the folders to the
# Wine test user.

live_setup() {
  live_work=$1
  live_data="$1/data"
  live_exports="$1/export"
  mkdir -p "$live_data" "$live_exports/data"
  local win_data="Z:${live_data//\//\\}"
  printf '[nfsd]\r\nLog=2\r\nInodePath=%s\\inodes.nfs\r\n' "$win_data" > "$live_data/nfsd.ini"
  printf '# exports of the live test\r\n%s -alldirs\r\n' "Z:${live_exports//\//\\}\\data" > "$live_data/exports"
  echo "line one of the live test" > "$live_exports/data/hello.txt"
  if [ "$2" = user ]; then
    chown -R "${KORVANE_WINE_USER:-korvane-test}" "$live_work"
  fi
}

# The clients' form of a folder with Lowercase on: /z/...
live_visible() { printf '/z%s' "$1"; }

# Runs a Windows program of the test (mount client, nfsd.exe).
live_run() {
  local output rc
  output=$($live_wine "$@" 2>&1)
  rc=$?
  printf '%s\n' "${output//$'\r'/}"
  return $rc
}

# Handles one step of the live test: checks, and on failure writes the
# reason into <step>.failed beside the request.
live_step() {
  local name=$1 request=$2 why="" content out page="" seen=""
  content=$(tr -d '\r' < "$request")
  case "$name" in
  mount)
    out=$(live_run "$live_mount_client" 1058 mnt 3 udp "$(live_visible "$live_exports/data")")
    echo "$out" | grep -q '^status 0' || why="MNT failed: $out"
    ;;
  pages-exports)
    # The page's rows as showmount prints them: the clients, then the options.
    page=$(printf '%s\n' "$content" | awk -F'|' 'NF {
      n = split($3 " " $2, w, " "); g = ""
      for (i = 1; i <= n; i++) if (w[i] != "") g = g (g == "" ? "" : ",") w[i]
      print $1 " " (g == "" ? "(everyone)" : g) }')
    seen=$(timeout 30 showmount --no-headers -e 127.0.0.1 | tr -s ' ' | sed 's/ $//') ;;
  pages-mounts)
    page=$(printf '%s\n' "$content" | awk -F'|' 'NF { print $1 ":" $2 }' | sort)
    seen=$(timeout 30 showmount --no-headers -a 127.0.0.1 | sort) ;;
  pages-portmapper)
    page=$(printf '%s\n' "$content" | awk -F'|' 'NF { print $1 " " $2 " " tolower($3) " " $4 " " $5 }' | sort)
    seen=$(timeout 30 rpcinfo -p 127.0.0.1 | awk 'NR > 1 { print $1 " " $2 " " $3 " " $4 " " $5 }' | sort) ;;
  second-start)
    out=$(timeout 60 $live_wine "$live_program" 2>&1)
    [ $? = 0 ] || why="a second nfsd.exe did not end with 0: $out"
    ;;
  *) why="unknown step $name" ;;
  esac
  # A page of the preferences shows what the system's client shows.
  [ "$page" = "$seen" ] || why="the ${name#pages-} page shows
$page
instead of
$seen"
  [ -n "$why" ] && printf '%s' "$why" > "${request%.request}.failed"
  echo "step $name: ${why:-ok}"
}

# Runs the window's tests with the handshake folder and answers their
# requests: steps through live_step, pictures through the caller's
# live_picture (none: answered at once).  Returns the tests' exit code.
live_run_tests() {
  local filter=$1 handshake="$live_work/handshake" request name pid
  mkdir -p "$handshake"
  chmod 777 "$handshake"
  env KORVANE_UI_HANDSHAKE="Z:${handshake//\//\\}" KORVANE_UI_LIVE_DATA="Z:${live_data//\//\\}" \
    KORVANE_UI_SHOW_MESSAGES="${live_show_messages:-0}" \
    $live_wine "$live_test_ui" --gtest_filter="$filter" > "$live_work/test.out" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    for request in "$handshake"/*.request; do
      [ -e "$request" ] || continue
      name=$(basename "$request" .request)
      case "$name" in
      shot.*) [ "$(type -t live_picture)" = function ] && live_picture "${name#shot.}" ;;
      step.*) live_step "${name#step.}" "$request" ;;
      esac
      rm -f "$request"
    done
    sleep 0.1
  done
  wait "$pid"
}
