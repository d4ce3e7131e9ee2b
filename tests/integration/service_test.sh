#!/bin/bash
# nfsd_console.exe as a Windows service under Wine, in a network namespace and
# a Wine prefix of its own (root, else skipped with 77):
#   service_test.sh NFSD_CONSOLE DRIVER
# -install, net start, -reload, net stop, auto-start, -uninstall; then the MSI package
# (without wixl skipped): silent install, a round trip of KORVANE_ACCEPT_MIB
# (64) MiB, upgrade, the control window driving the service, removal (no
# programs, service or firewall rules left), a reinstall keeping the data.
set -u
mode=wine
server=${1:?nfsd_console.exe}
driver=${2:?integration_driver.exe}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
: "${KORVANE_NETNS_PREFIX:=/var/tmp/korvane-wine/netns-service}"
export KORVANE_NETNS_PREFIX
. "$here/server_lib.sh"
enter_namespace "$@" -- rpcinfo nfs-cp

# --- inside the namespace -------------------------------------------------------
key='HKLM\System\CurrentControlSet\Services\KorvaneNfsd'
wine() { "$tools/wine-run" "$@" </dev/null 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
msiexec() { timeout 180 "$tools/wine-run" msiexec "$@" /qn </dev/null >>"$work/server.out" 2>&1; }
nfs_up() { rpcinfo -u 127.0.0.1 100003 3 >/dev/null 2>&1; }
nfs_answers() { wait_for 30 nfs_up; }
pmap_silent() { ! rpcinfo -p 127.0.0.1 >/dev/null 2>&1; }
stop_logged() { grep -aq "nfsd   service stopping" "$data"/nfsd*.log 2>/dev/null; }
# What a run leaves in the prefix would start with the next one's wineboot.
service_cleanup() {
  for package in "$work"/*.msi; do
    [ -f "$package" ] && msiexec /x "$(windows "$package")"
  done
  wine "$server" -uninstall >/dev/null
  if [ -f "$work/netsh.exe" ]; then
    cp "$work/netsh.exe" "$system32/netsh.exe"
    wine reg delete 'HKCU\Software\Wine\DllOverrides' /v netsh.exe /f >/dev/null
  fi
  cleanup
}
trap service_cleanup EXIT
wine "$server" -uninstall >/dev/null

exports="$work/export"
mkdir -p "$exports"
write_setup Log=2 MapRoot=1 -- "$(windows "$exports") -name:data"
chown -R "$KORVANE_WINE_USER" "$data"

out=$(wine "$server" -install "$(windows "$data")") || fail "-install failed: $out"
echo "$out"
# The service manager may write the key after -install has returned: wait for it.
for _ in $(seq 1 50); do
  reg=$(wine reg query "$key" 2>&1) && grep -Eq 'Start.*0x2' <<<"$reg" && break
  sleep 0.2
done
grep -Eq 'Start.*0x2' <<<"$reg" || fail "the service is not auto-start; the key reads: $reg"
grep -Fq -- "-service \"$(windows "$data")" <<<"$reg" || fail "the service does not name its data folder: $reg"

timeout 90 "$tools/wine-run" net start KorvaneNfsd </dev/null >"$work/server.out" 2>&1 ||
  fail "net start failed"
nfs_answers || fail "NFS does not answer after net start"

head -c 1000003 /dev/urandom > "$work/in"
timeout 120 nfs-cp "$work/in" nfs://127.0.0.1/data/copy >/dev/null || fail "nfs-cp to the service failed"
timeout 120 nfs-cp nfs://127.0.0.1/data/copy "$work/out" >/dev/null || fail "nfs-cp from the service failed"
cmp "$work/in" "$exports/copy" && cmp "$work/in" "$work/out" || fail "the copies differ"
echo "ok   a file copied in and out through the service"

# -reload: the running service reads its exports file again; an added export
# is served, handles of the first one keep serving.
echo "kept across restarts" > "$exports/kept.txt"
kept=$(run_client "$driver" --kept-handles save | sed -n 's/^kept //p') && [ -n "$kept" ] || fail "no handles of /data"
more="$work/more"
mkdir -p "$more" && chown "$KORVANE_WINE_USER" "$more"
printf '%s -name:more\n' "$(windows "$more")" >> "$data/exports"
copy_more() { timeout 60 nfs-cp "$work/in" nfs://127.0.0.1/more/copy >/dev/null 2>&1; }
copy_more && fail "the added export is served before -reload"
# The running service writes its log out: the window's log viewer shows the refusal.
wait_for 5 grep -aq "mount3 error 127.0.0.1:/more" "$data"/nfsd*.log || fail "the refused mount is not in the log"
out=$(wine "$server" -reload) || fail "-reload failed: $out"
wait_for 10 copy_more && cmp "$work/in" "$more/copy" || fail "the added export is not served after -reload"
# shellcheck disable=SC2086 # two handles
run_client "$driver" --kept-handles check $kept || fail "handles of /data went stale across -reload"
echo "ok   -reload: an added export served without a restart, handles of the first kept"

# net stop of Wine does not wait for the service to stop.
start=$(date +%s%N)
timeout 60 "$tools/wine-run" net stop KorvaneNfsd </dev/null >>"$work/server.out" 2>&1 || fail "net stop failed"
wait_for 20 pmap_silent || fail "the port mapper still answers 20 s after net stop"
echo "ok   stopped by net stop ($(( ($(date +%s%N) - start) / 1000000 )) ms)"
# The port mapper goes silent before the service's process has ended and
# closed its log: the stop line is awaited, 20 s at most.
wait_for 20 stop_logged || fail "the log lacks the service's stop"

# An auto-start service starts with Wine (wineboot).
"$tools/wine-env" stop && "$tools/wine-env" start || fail "Wine did not restart"
nfs_answers || fail "NFS does not answer after Wine's start"
echo "ok   started at Wine's start"

out=$(wine "$server" -uninstall) || fail "-uninstall failed: $out"
echo "$out"
wine reg query "$key" >/dev/null && fail "the service's key is still there"

# --- the installer ----------------------------------------------------------------
if ! command -v wixl >/dev/null; then
  echo "SKIP: wixl is not installed (tools/install-deps): the installer is not tested"
  echo "PASS: wine service"
  exit 0
fi
for version in 0.0.1 0.0.2; do
  KORVANE_WINDOWS_BUILD=$(dirname "$server") KORVANE_MSI_DIR=$work "$tools/build-msi" $version >/dev/null ||
    fail "build-msi $version failed"
done
chmod 644 "$work"/*.msi
programs="$WINEPREFIX/drive_c/Program Files/Korvane NFS Server"
shared="$WINEPREFIX/drive_c/ProgramData/Korvane NFS Server"
rm -rf "$programs" "$shared"
mkdir -p "$shared"
printf '[nfsd]\r\nMapRoot=1\r\nInodePath=C:\\ProgramData\\Korvane NFS Server\\inodes.nfs\r\n' > "$shared/nfsd.ini"
printf '%s -name:data\n' "$(windows "$exports")" > "$shared/exports"
chown -R "$KORVANE_WINE_USER" "$shared"
installed() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c "Korvane NFS Server"; }
# Wine's netsh accepts firewall rules and forgets them: the test driver
# stands in for it and keeps them in netsh-rules.txt beside itself.
system32="$WINEPREFIX/drive_c/windows/system32"
cp "$system32/netsh.exe" "$work/netsh.exe"
install -o "$KORVANE_WINE_USER" "$driver" "$system32/netsh.exe"
rm -f "$system32/netsh-rules.txt"
wine reg add 'HKCU\Software\Wine\DllOverrides' /v netsh.exe /d native /f >/dev/null
rules() { wine netsh advfirewall firewall show rule name=all; }
expected=
for protocol in TCP UDP; do
  expected+="name=Korvane NFS Server ($protocol)|dir=in|action=allow|protocol=$protocol|localport=111,1058,2049,4045"$'\n'
done

msiexec /i "$(windows "$work/korvane-nfs-server-0.0.1.msi")" || fail "msiexec /i failed"
[ -f "$programs/nfsd.exe" ] && [ -f "$programs/Languages/deutsch.ini" ] || fail "the programs are not installed"
# (Wine puts a per-machine shortcut into the user's Start menu.)
find "$WINEPREFIX/drive_c" -name "Korvane NFS Server.lnk" | grep -q . || fail "no Start menu entry"
wine reg query "$key" | grep -Fq -- '-service "C:\ProgramData\Korvane NFS Server\\"' ||
  fail "the installed service does not name the data folder"
[ "$(rules)" = "${expected%$'\n'}" ] || fail "the firewall rules read
$(rules)"
nfs_answers || fail "NFS does not answer after the installation"
mib=${KORVANE_ACCEPT_MIB:-64}
head -c $((mib << 20)) /dev/urandom > "$work/big"
rm -f "$work/out"
start=$(date +%s)
timeout 300 nfs-cp "$work/big" nfs://127.0.0.1/data/big >/dev/null &&
  timeout 300 nfs-cp nfs://127.0.0.1/data/big "$work/out" >/dev/null ||
  fail "nfs-cp of $mib MiB through the installed service failed"
cmp "$work/big" "$exports/big" && cmp "$work/big" "$work/out" || fail "the copies of $mib MiB differ"
rm -f "$work/big" "$work/out" "$exports/big"
echo "ok   installed silently with its firewall rules, $mib MiB copied in and out ($(($(date +%s) - start)) s)"

msiexec /i "$(windows "$work/korvane-nfs-server-0.0.2.msi")" || fail "msiexec /i of the newer package failed"
[ "$(installed)" = 1 ] || fail "the upgrade left $(installed) products"
nfs_answers || fail "NFS does not answer after the upgrade"
[ "$(rules)" = "${expected%$'\n'}" ] || fail "after the upgrade the firewall rules read
$(rules)"
echo "ok   upgraded in place"

# The control window of the installed programs on the service's data folder,
# driven from outside as an administrator would: Stop, Start, an export
# added in the export dialog and served at once.
window() { run_client "$driver" --window "$@"; }
bar_is() { [ "$(window status)" = " The service KorvaneNfsd $1" ]; }
"$tools/wine-run" "$programs/nfsd.exe" 'C:\ProgramData\Korvane NFS Server\' </dev/null >/dev/null 2>&1 &
window_pid=$!
window_ended() { ! kill -0 "$window_pid" 2>/dev/null; }
wait_for 30 bar_is "serves on port 2049" || fail "the window does not show the running service: $(window status)"
window stop && wait_for 20 pmap_silent && wait_for 10 bar_is "is not running" || fail "Service/Stop failed"
window start && nfs_answers && wait_for 10 bar_is "serves on port 2049" || fail "Service/Start failed"
rm -f "$more/copy"
copy_more && fail "the export is served before the window adds it"
window add "$(windows "$more")" -name:more && wait_for 10 copy_more && cmp "$work/in" "$more/copy" ||
  fail "the export added in the window is not served"
window exit
wait_for 10 window_ended || fail "the window did not end"
echo "ok   the window stops and starts the service; an export added there is served at once"

msiexec /x "$(windows "$work/korvane-nfs-server-0.0.2.msi")" || fail "msiexec /x failed"
[ "$(installed)" = 0 ] || fail "the product is still installed"
[ ! -e "$programs" ] || fail "the programs' folder is still there"
wine reg query "$key" >/dev/null && fail "the service's key is still there after msiexec /x"
rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && fail "the port mapper still answers after msiexec /x"
[ -z "$(rules)" ] || fail "firewall rules are left: $(rules)"
[ -f "$shared/nfsd.ini" ] && grep -q -- '-name:more' "$shared/exports" || fail "the data folder was not kept"
echo "ok   removed silently (no programs, service or firewall rules left), the data folder kept"

msiexec /i "$(windows "$work/korvane-nfs-server-0.0.2.msi")" || fail "the reinstallation failed"
nfs_answers && rm -f "$more/copy" && copy_more || fail "the reinstalled service does not serve the kept exports"
msiexec /x "$(windows "$work/korvane-nfs-server-0.0.2.msi")" || fail "msiexec /x after the reinstallation failed"
[ -z "$(rules)" ] && [ "$(installed)" = 0 ] || fail "the second removal left the product or its rules"
echo "ok   reinstalled on the kept data folder, removed again"
rm -f "$work"/*.msi
echo "PASS: wine service"
