#!/bin/bash
# Eight parallel jobs on the one mount (a workload for the kernel-client
# harness, run by bench/run-kclient-peer against this server and the peer):
#   randread   fio, 8 jobs of 4 KiB random reads, O_DIRECT, on one file
#              written first; time-capped; IOPS and MiB/s
#   untar      8 processes each unpack their own copy of a tree of small files
#   find -ls   8 processes each list their tree (client caches dropped first)
#   rm -rf     8 processes each remove their tree
# Lines "INFO custom: mark PHASE start|end" let the host sample the server's
# CPU time around each phase; "INFO custom: result PHASE key=value..." carry
# the figures.  The client's own count and times of each kind of call at
# each mark go to mountstats-PHASE-EDGE.txt (bench/kclient-calls reads them).
. /kc/guest/lib.sh
JOBS=8
FIO_SIZE=64m
FIO_RUNTIME=30
TREE_FILES=1000    # per tree: files of 0-4 KiB in 100 folders, 20 symbolic links
workdir

mark() { info "mark $1 $2"; cat /proc/self/mountstats > "$KC_OUT/mountstats-$1-$2.txt" 2>/dev/null; }
# parallel PHASE CMD: CMD with the job number as its one argument, 8 at once;
# prints the phase's seconds, fails the phase when one job failed
parallel() {
  local phase=$1 cmd=$2 i t0 bad=0 pids=()
  mark "$phase" start
  t0=$(now)
  for i in $(seq 1 $JOBS); do "$cmd" "$i" > "/tmp/jobs-$phase-$i.out" 2>&1 & pids+=($!); done
  for i in "${!pids[@]}"; do wait "${pids[$i]}" || { bad=$((bad + 1)); cp "/tmp/jobs-$phase-$((i + 1)).out" "$KC_OUT/fail-jobs-$phase-$((i + 1)).txt"; }; done
  local s; s=$(elapsed "$t0")
  mark "$phase" end
  info "result $phase s=$s"
  if [ $bad = 0 ]; then pass "$phase: $JOBS jobs"; else fail "$phase: $bad of $JOBS jobs failed ($(head -c 300 "/tmp/jobs-$phase-1.out" | tr '\n' ' '))"; fi
}

# ---- random reads
t0=$(now)
check "write the file for the reads" fio --name=prep --filename=fio-rr --size=$FIO_SIZE --rw=write --bs=1m \
  --ioengine=libaio --iodepth=4 --direct=1
info "fio file written: $(elapsed "$t0")s"
mark randread start
timeout -k 10 $((FIO_RUNTIME * 3 + 60)) fio --name=randread --filename=fio-rr --size=$FIO_SIZE --rw=randread --bs=4k \
  --ioengine=libaio --iodepth=4 --direct=1 --numjobs=$JOBS --time_based --runtime=$FIO_RUNTIME --group_reporting \
  --output-format=json --output=/tmp/jobs-fio.json > /tmp/jobs-fio.err 2>&1
rc=$?
mark randread end
cp /tmp/jobs-fio.json "$KC_OUT/fio-randread.json" 2>/dev/null
sum=$(python3 -c '
import json, sys
j = json.load(open(sys.argv[1]))["jobs"][0]
r = j["read"]
print("%d iops=%.0f mibps=%.1f lat_ms=%.2f" % (j["error"], r["iops"], r["bw_bytes"] / 1048576.0, r["lat_ns"]["mean"] / 1e6))
' /tmp/jobs-fio.json 2>&1)
info "result randread ${sum#* }"
if [ $rc = 0 ] && [ "${sum%% *}" = 0 ]; then pass "randread: $JOBS jobs"
else fail "randread: $JOBS jobs (rc=$rc $sum $(head -c 300 /tmp/jobs-fio.err | tr '\n' ' '))"; fi
rm -f fio-rr

# ---- metadata: a tree of small files, tarred once in the guest's memory
python3 - /tmp/jobs-tree $TREE_FILES <<'EOF'
import os, random, sys
top, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(20261208)
dirs = ["d%02d/e%02d" % (i // 10, i % 10) for i in range(100)]
for d in dirs:
    os.makedirs(os.path.join(top, d))
for i in range(n):
    with open(os.path.join(top, dirs[i % 100], "f%05d.txt" % i), "wb") as f:
        f.write(rnd.randbytes(rnd.randint(0, 4095)))
for i in range(20):
    os.symlink("../e%02d/f%05d.txt" % (i % 10, i), os.path.join(top, dirs[i], "l%02d" % i))
EOF
tar -C /tmp/jobs-tree -cf /tmp/jobs-tree.tar . || { fail "tar the tree"; finish; exit 1; }
entries=$(tar -tf /tmp/jobs-tree.tar | wc -l)
rm -rf /tmp/jobs-tree
info "tree: $entries entries, $(stat -c %s /tmp/jobs-tree.tar) bytes of tar"

untar_one() { mkdir "t$1" && tar -C "t$1" -xf /tmp/jobs-tree.tar; }
find_one() {
  local n; n=$(find "t$1" -ls | wc -l)
  [ "$n" = "$entries" ] || { echo "find -ls listed $n entries, want $entries"; return 1; }
}
rm_one() { rm -rf "t$1" && [ ! -e "t$1" ]; }
parallel untar untar_one
dropcaches
parallel find find_one
parallel rm rm_one
rm -f /tmp/jobs-tree.tar
cleanup_workdir
finish
