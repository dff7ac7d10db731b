"""CPU time and memory of a server with all its processes (the forking peers
run a process per session), and of the whole machine, read from /proc."""

import os
import time


def _process_tree(pid):
    """pid and all its descendants, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat.rsplit(")", 1)[1].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    out, todo = [], [pid]
    while todo and len(out) < 100000:
        p = todo.pop()
        out.append(p)
        todo.extend(children.get(p, []))
    return out


def tree_cpu_seconds(pid):
    """CPU time of the server and its processes, including children that
    have ended and been waited for (the peers' per-session processes)."""
    ticks = 0
    for p in _process_tree(pid):
        try:
            with open("/proc/%d/stat" % p) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        ticks += sum(int(x) for x in fields[11:15])  # utime stime cutime cstime
    return ticks / os.sysconf("SC_CLK_TCK")


def tree_rss_kib(pid):
    total = 0
    for p in _process_tree(pid):
        try:
            with open("/proc/%d/status" % p) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
                        break
        except OSError:
            pass
    return total


def machine_busy_seconds():
    """CPU time the whole machine spent on anything but idling, all cores."""
    with open("/proc/stat") as f:
        fields = f.readline().split()  # cpu user nice system idle iowait irq softirq steal
    busy = sum(int(x) for x in fields[1:4]) + sum(int(x) for x in fields[6:8])
    return busy / os.sysconf("SC_CLK_TCK")


class OtherWork:
    """How much of a core the rest of the machine kept busy between start()
    and stop(): everything but the server's process tree and this benchmark's
    own (its clients, the idle sessions' holders, the probe). A kernel thread
    or another program working meanwhile also keeps the virtual CPUs from
    halting, which changes what a wake-up costs, so a row with other work
    is not comparable with one without."""

    def __init__(self, server_pid):
        self.server_pid = server_pid

    def _sample(self):
        return (time.monotonic(), machine_busy_seconds(), tree_cpu_seconds(self.server_pid),
                tree_cpu_seconds(os.getpid()))

    def start(self):
        self.first = self._sample()

    def stop(self):
        """Cores' worth of other work (0.5: half a core) since start()."""
        t1, busy1, server1, own1 = self._sample()
        t0, busy0, server0, own0 = self.first
        other = (busy1 - busy0) - (server1 - server0) - (own1 - own0)
        return max(0.0, other) / max(t1 - t0, 1e-6)
