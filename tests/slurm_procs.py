#!/usr/bin/env python3
"""The processes of a private test Slurm's jobs, found and killed by process
id (never by name): the test's own slurmstepd processes are those writing to
its log folder (WORK/slurm/log), the jobs' processes those whose
SLURM_SUBMIT_DIR lies below its scratch folder WORK (so another Slurm on
the machine is never touched).

    slurm_procs.py lose-node --work DIR --slurmd n1=PID,... --program NAME --job JOB [--node N]
        once NAME runs for JOB on a node (N, or any), that node is lost: its
        slurmd, its slurmstepd processes and every process below them or
        of its jobs stopped, then killed; prints "node N: ..."
    slurm_procs.py kill-random --work DIR --job JOB --target T --delay-max S
        once the target of JOB runs (PanelPack, ClipCount, share: the
        hedm-far-field-share script, task: the job script), kills it with
        SIGKILL after a random delay up to S seconds; prints "landed: ..."
        with where the share was, "outside: ..." for a job script killed
        before or after its share, or "missed: ..." when it had ended
    slurm_procs.py wait-gone --work DIR --job JOB [--timeout S]
        waits until no process of JOB is left (orphans of a killed script
        included); those left after S seconds are killed and named
    slurm_procs.py kill-all --work DIR
        kills every process of the jobs, and their slurmstepd processes
"""
import argparse
import os
import random
import signal
import sys
import time


def processes():
    """pid -> (ppid, comm, state) of every process now."""
    found = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat", "rb") as f:
                stat = f.read().decode(errors="replace")
        except OSError:
            continue
        head, _, tail = stat.rpartition(")")
        fields = tail.split()
        found[int(name)] = (int(fields[1]), head.partition("(")[2], fields[0])
    return found


def environ(pid):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            items = f.read().split(b"\0")
    except OSError:
        return {}
    env = {}
    for item in items:
        key, eq, value = item.partition(b"=")
        if eq:
            env[key.decode(errors="replace")] = value.decode(errors="replace")
    return env


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return [a.decode(errors="replace") for a in f.read().split(b"\0") if a]
    except OSError:
        return []


def stdout_text(pid):
    try:
        with open(f"/proc/{pid}/fd/1", "rb") as f:
            return f.read().decode(errors="replace")
    except OSError:
        return ""


class Jobs:
    """The test Slurm's processes, as of one look at /proc."""

    def __init__(self, work):
        self.work = os.path.realpath(work)
        self.stepd_nodes = {}  # pid -> node, cached: a slurmstepd's log stays
        self.envs = {}  # (pid, comm) -> environment: it changes only with an exec
        self.look()

    def env(self, pid):
        key = (pid, self.procs.get(pid, (0, "", ""))[1])
        if key not in self.envs:
            self.envs[key] = environ(pid)
        return self.envs[key]

    def ours(self, pid):
        return self.env(pid).get("SLURM_SUBMIT_DIR", "").startswith(self.work + "/")

    def look(self):
        self.procs = processes()
        self.children = {}
        for pid, (ppid, _, _) in self.procs.items():
            self.children.setdefault(ppid, []).append(pid)

    def stepds(self):
        """pid -> node of the test's slurmstepd processes."""
        logs = os.path.join(self.work, "slurm", "log") + "/slurmd-"
        found = {}
        for pid, (_, comm, _) in self.procs.items():
            if not comm.startswith("slurmstepd"):
                continue
            if pid not in self.stepd_nodes:
                node = None
                try:
                    for fd in os.listdir(f"/proc/{pid}/fd"):
                        target = os.readlink(f"/proc/{pid}/fd/{fd}")
                        if target.startswith(logs) and target.endswith(".log"):
                            node = target[len(logs):-4]
                except OSError:
                    pass
                self.stepd_nodes[pid] = node
            if self.stepd_nodes[pid]:
                found[pid] = self.stepd_nodes[pid]
        return found

    def below(self, pid):
        out, todo = [], list(self.children.get(pid, []))
        while todo:
            p = todo.pop()
            out.append(p)
            todo.extend(self.children.get(p, []))
        return out

    def of_job(self, job):
        """pid -> environment of the processes of the job (an array's id or
        a task's own), orphans included."""
        found = {}
        for pid, (_, comm, state) in self.procs.items():
            if state == "Z" or (comm.startswith("slurm") and comm != "slurm_script") or not self.ours(pid):
                continue
            env = self.env(pid)
            if job in (env.get("SLURM_ARRAY_JOB_ID"), env.get("SLURM_JOB_ID")):
                found[pid] = env
        return found


def is_target(jobs, target, pid):
    """Whether pid is the target: the program, or the script itself (not
    one of the subshells it forks, which share its command line)."""
    ppid, comm, _ = jobs.procs[pid]
    if target in ("PanelPack", "ClipCount", "StackCollapse"):
        return comm == target
    args = cmdline(pid)
    script = {"share": "/hedm-far-field-share", "task": "/slurm_script"}[target]
    return len(args) >= 2 and args[0].endswith("bash") and args[1].endswith(script) and cmdline(ppid) != args


def where(jobs, pid):
    """Where the share stood in the process pid: the image or file of the
    program at work."""
    comm = jobs.procs.get(pid, (0, "", ""))[1]
    if comm in ("PanelPack", "ClipCount"):
        args = cmdline(pid)
        try:
            first, last = (int(args[2]), int(args[3])) if comm == "PanelPack" else (int(args[4]), int(args[5]))
        except (IndexError, ValueError):
            first, last = 0, -1
        text = stdout_text(pid)
        if comm == "PanelPack":
            k = text.count("Read file ")
            return f"PanelPack, image {k} of {last - first + 1}" if k else "PanelPack, before its first image"
        if "Time elapsed" in text:
            return "ClipCount, after its last line"
        k = text.count("Reading file: ")
        return f"ClipCount, frame file {k} of {last - first + 1}" if k else "ClipCount, before its first frame file"
    if comm == "StackCollapse":
        return "StackCollapse"
    below = jobs.below(pid)
    for p in below:
        if jobs.procs[p][1] in ("PanelPack", "ClipCount", "StackCollapse"):
            return where(jobs, p)
    # A script with no program at work: where its share stands, by the logs
    # it has put in place (hedm-far-field-share FOLDER STEM FIRST LAST DARK
    # SATURATION LOGS).
    for p in [pid] + below:
        args = cmdline(p)
        if len(args) == 9 and args[1].endswith("/hedm-far-field-share"):
            try:
                logs = os.path.join(os.readlink(f"/proc/{p}/cwd"), args[8])
                tag = "%08d" % int(args[4])
            except (OSError, ValueError):
                break
            if os.path.exists(f"{logs}/clipcount_{tag}.log"):
                return "the share script, after ClipCount"
            if os.path.exists(f"{logs}/panelpack_{tag}.log"):
                return "the share script, between PanelPack and ClipCount"
            return "the share script, before PanelPack"
    return OUTSIDE


# What a script was doing when it ran no share.
OUTSIDE = "outside its share"


def lose_node(a):
    slurmd = dict(pair.split("=") for pair in a.slurmd.split(","))
    deadline = time.time() + a.timeout
    jobs = Jobs(a.work)
    while True:
        hit = None
        for pid, env in jobs.of_job(a.job).items():
            node = env.get("SLURMD_NODENAME")
            if jobs.procs[pid][1] == a.program and node in slurmd and (a.node is None or node == a.node):
                hit = (pid, node)
                break
        if hit:
            break
        if time.time() > deadline:
            print(f"no {a.program} of job {a.job} ran{' on ' + a.node if a.node else ''} within {a.timeout} s")
            return 1
        time.sleep(0.002)
        jobs.look()
    pid, node = hit
    doing = where(jobs, pid)
    victims = set()
    for _ in range(3):  # stopped first, so that nothing starts a new process meanwhile
        jobs.look()
        new = {int(slurmd[node])} if int(slurmd[node]) in jobs.procs else set()
        for stepd, n in jobs.stepds().items():
            if n == node:
                new.add(stepd)
                new.update(jobs.below(stepd))
        for p in list(jobs.procs):
            if p not in new and jobs.ours(p) and jobs.env(p).get("SLURMD_NODENAME") == node:
                new.add(p)
        for p in new - victims:
            try:
                os.kill(p, signal.SIGSTOP)
            except ProcessLookupError:
                pass
        victims |= new
    for p in victims:
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass
    names = ", ".join(f"{p} {jobs.procs[p][1]}" for p in sorted(victims) if p in jobs.procs)
    print(f"node {node}: lost while {doing} there (job {a.job}); killed {names}")
    return 0


def kill_random(a):
    deadline = time.time() + a.timeout
    jobs = Jobs(a.work)
    while True:
        mine = jobs.of_job(a.job)
        hits = [p for p in mine if is_target(jobs, a.target, p)]
        if hits:
            break
        if time.time() > deadline:
            print(f"missed: no {a.target} of job {a.job} seen")
            return 0
        time.sleep(0.001)
        jobs.look()
    pid = random.choice(hits)
    time.sleep(random.uniform(0, a.delay_max))
    jobs.look()
    if pid not in jobs.procs or jobs.procs[pid][2] == "Z":
        print(f"missed: {a.target} had ended")
        return 0
    doing = where(jobs, pid)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        print(f"missed: {a.target} had ended")
        return 0
    # Landed: killed while its share was at work (a program, or the share
    # script between them); a job script killed before or after its share
    # is counted apart.
    print(f"{'outside' if doing == OUTSIDE else 'landed'}: {a.target}: {doing}")
    return 0


def wait_gone(a):
    deadline = time.time() + a.timeout
    jobs = Jobs(a.work)
    while jobs.of_job(a.job):
        if time.time() > deadline:
            left = jobs.of_job(a.job)
            for p in left:
                try:
                    os.kill(p, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            print("left running, killed: " + ", ".join(f"{p} {jobs.procs[p][1]}" for p in sorted(left)))
            return 1
        time.sleep(0.05)
        jobs.look()
    return 0


def kill_all(a):
    """Every process of the test Slurm's jobs, and its slurmstepd processes,
    killed: what is left when the test ends early."""
    jobs = Jobs(a.work)
    left = set(jobs.stepds())
    for p in list(left):
        left.update(jobs.below(p))
    left.update(p for p, (_, comm, state) in jobs.procs.items() if state != "Z" and jobs.ours(p))
    for p in left:
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if left:
        print("killed what the jobs left running: " + ", ".join(f"{p} {jobs.procs[p][1]}" for p in sorted(left)))
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("lose-node")
    p.add_argument("--work", required=True)
    p.add_argument("--slurmd", required=True)
    p.add_argument("--program", required=True)
    p.add_argument("--job", required=True)
    p.add_argument("--node")
    p.add_argument("--timeout", type=float, default=60)
    p = sub.add_parser("kill-random")
    p.add_argument("--work", required=True)
    p.add_argument("--job", required=True)
    p.add_argument("--target", required=True, choices=["PanelPack", "ClipCount", "share", "task"])
    p.add_argument("--delay-max", type=float, default=0.1)
    p.add_argument("--timeout", type=float, default=60)
    p = sub.add_parser("wait-gone")
    p.add_argument("--work", required=True)
    p.add_argument("--job", required=True)
    p.add_argument("--timeout", type=float, default=10)
    p = sub.add_parser("kill-all")
    p.add_argument("--work", required=True)
    a = parser.parse_args()
    return {"lose-node": lose_node, "kill-random": kill_random, "wait-gone": wait_gone, "kill-all": kill_all}[a.command](a)


if __name__ == "__main__":
    sys.exit(main())
