# The checks of the control window against the running services (sourced by
# tests/integration/ui_live_test.sh and tools/ui-screenshots, not run).  The
# window's live tests (tests/ui/live_test_win32.cpp) stop at named steps; the
# caller hands each step to live_step, which checks the server from outside
# with the system's own clients and answers through the step's request file.
#
# live_setup WORK MODE: the data folder ($live_data) with nfsd.ini and an
# exports file naming $live_exports/data; MODE "user" gives the folders to the
# Wine test user.

live_setup() {
  live_work=$1
  live_data="$1/data"
  live_exports="$1/export"
  mkdir -p "$live_data" "$live_exports/data" "$live_exports/added"
  local win_data="Z:${live_data//\//\\}"
  printf '[nfsd]\r\nLog=2\r\nInodePath=%s\\inodes.nfs\r\n' "$win_data" > "$live_data/nfsd.ini"
  printf '# exports of the live test\r\n%s -alldirs\r\n' "Z:${live_exports//\//\\}\\data" > "$live_data/exports"
  echo "line one of the live test" > "$live_exports/data/hello.txt"
  if [ "$2" = user ]; then
    chown -R "${KORVANE_WINE_USER:-korvane-test}" "$live_work"
  fi
}
