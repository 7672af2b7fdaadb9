# A one-node Slurm cluster on 127.0.0.1 in a folder of its own, for the
# cluster tests: munged, slurmctld and slurmd with their keys, sockets,
# state, spool and logs under that folder, on ports nobody else listens on.
# Source it; the caller sets a trap that calls cluster_stop.
#
#   cluster_isolate "$0" "$@"
#                       runs the calling script again in a network of its own
#                       that has nothing but a loopback interface (Slurm's
#                       daemons listen on every interface there is, so this
#                       keeps them on loopback) and a process namespace whose
#                       first process it is, so that the daemons and their jobs
#                       end with it even when it is killed outright (a test
#                       timeout) and no trap runs; fails saying why when no
#                       such namespace can be made
#   cluster_start DIR   starts the three daemons and waits until the node
#                       takes jobs; exports SLURM_CONF; fails with the end of
#                       the daemons' logs
#   cluster_stop        stops them (jobs first) and removes DIR
#
# The daemons run as root (Slurm's own user switching needs it), which the
# caller checks.

cluster_dir=

cluster_isolate() {
  [ -n "${VELTRIX_CLUSTER_ISOLATED:-}" ] && return 0
  command -v unshare >/dev/null && command -v ip >/dev/null ||
    { echo "FAIL: unshare (util-linux) and ip (iproute2) are needed to keep the cluster on loopback" >&2; exit 1; }
  local isolate=(unshare --net --pid --mount --fork --mount-proc --kill-child)
  "${isolate[@]}" true 2>/dev/null ||
    { echo "FAIL: cannot make a private network and process namespace for the cluster" \
        "(${isolate[*]}): $("${isolate[@]}" true 2>&1)" >&2; exit 1; }
  # Slurm looks its addresses up asking only for families the machine has
  # an address of (AI_ADDRCONFIG), which does not count 127.0.0.1: a second
  # loopback address makes IPv4 count.
  VELTRIX_CLUSTER_ISOLATED=1 exec "${isolate[@]}" -- \
    sh -c 'ip link set lo up && ip addr add 127.0.0.2/8 dev lo && exec "$@"' sh "$@"
}

# A port no one listens on yet, for a daemon to take a moment later (bash's
# own /dev/tcp: nothing beyond bash needed).
free_port() {
  local port
  while true; do
    port=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

cluster_log_tail() {
  local f
  for f in "$cluster_dir"/*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 15 "$f"; }
  done
}

cluster_start() {
  cluster_dir=$1
  mkdir -p "$cluster_dir"/{state,spool,munge}
  chmod 700 "$cluster_dir/munge"
  mungekey --create --keyfile="$cluster_dir/munge/munge.key" >/dev/null 2>&1 ||
    dd if=/dev/urandom of="$cluster_dir/munge/munge.key" bs=1024 count=1 2>/dev/null
  chmod 600 "$cluster_dir/munge/munge.key"
  local socket="$cluster_dir/munge/munge.socket"
  munged --force --socket="$socket" --key-file="$cluster_dir/munge/munge.key" \
    --pid-file="$cluster_dir/munge/munged.pid" --log-file="$cluster_dir/munged.log" \
    --seed-file="$cluster_dir/munge/munged.seed" ||
    { echo "munged did not start"; cluster_log_tail; return 1; }

  local memory cpus
  memory=$(awk '/^MemTotal:/ { print int($2 / 1024 * 0.8) }' /proc/meminfo)
  cpus=$(nproc)
  cat >"$cluster_dir/slurm.conf" <<CONF
ClusterName=veltrixtest
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$cluster_dir/state
SlurmdSpoolDir=$cluster_dir/spool
SlurmctldPidFile=$cluster_dir/slurmctld.pid
SlurmdPidFile=$cluster_dir/slurmd.pid
SlurmctldLogFile=$cluster_dir/slurmctld.log
SlurmdLogFile=$cluster_dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SchedulerType=sched/backfill
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
ReturnToService=2
SlurmctldTimeout=30
SlurmdTimeout=30
MinJobAge=600
MaxArraySize=10001
NodeName=veltrixnode NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=render Nodes=veltrixnode Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF="$cluster_dir/slurm.conf"
  slurmctld -i -f "$SLURM_CONF" || { echo "slurmctld did not start"; cluster_log_tail; return 1; }
  slurmd -N veltrixnode -f "$SLURM_CONF" || { echo "slurmd did not start"; cluster_log_tail; return 1; }
  local i
  for i in $(seq 1 100); do
    if sinfo -h -n veltrixnode -o %t 2>/dev/null | grep -qx idle; then return 0; fi
    sleep 0.2
  done
  echo "the node did not become idle within 20 s: $(sinfo 2>&1)"
  cluster_log_tail
  return 1
}

cluster_stop() {
  [ -n "$cluster_dir" ] || return 0
  scancel --full --quiet --user=root 2>/dev/null || true
  local pidfile pid
  for pidfile in "$cluster_dir/slurmd.pid" "$cluster_dir/slurmctld.pid" "$cluster_dir/munge/munged.pid"; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$cluster_dir"
  cluster_dir=
}
