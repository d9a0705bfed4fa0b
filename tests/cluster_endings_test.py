#!/usr/bin/env python3
"""How the cluster commands tell why a task stopped, and what they ask of a
resume, without a Slurm: scontrol, sacct, sinfo, squeue and sbatch are
stand-ins on PATH that answer from files the cases write.

- Slurm time limits and memory sizes read as sbatch takes them (a table);
- a task's ending from Slurm's word and its output (a table: out of time,
  killed for memory with what it had used, node lost, cancelled, a signal,
  a node down now, nothing known);
- what a killed share leaves unfinished, and only that (hidden temporary
  frames of its numbers, its partial logs);
- hedm-far-field-resume: a share out of time or memory is sent again only
  with more time or memory given, in the spellings sbatch takes.
    tests/cluster_endings_test.py <build-dir>"""
import os
import pathlib
import subprocess
import sys
import tempfile

BUILD = os.path.abspath(sys.argv[1])
COMMON = pathlib.Path(__file__).resolve().parent.parent / "tools" / "cluster" / "common.sh"
failures = []


def expect(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def bash(script, *args, env=None, cwd=None):
    run = subprocess.run(["bash", "-c", f"source {COMMON}\n{script}", "_", *args],
                         capture_output=True, text=True, env=env, cwd=cwd)
    return run.stdout, run.returncode


def readers():
    times = [("1", 60), ("0:60", 60), ("1:30", 90), ("2:00:00", 7200), ("1-0", 86400),
             ("1-2:3", (24 + 2) * 3600 + 180), ("1-2:3:4", (24 + 2) * 3600 + 184),
             ("00:01:00", 60), ("UNLIMITED", -1), ("infinite", -1),
             ("", None), ("1:2:3:4", None), ("1-", None), ("abc", None), ("-1", None), ("1.5", None)]
    for text, want in times:
        out, status = bash('hedm_slurm_seconds "$1" && echo "$REPLY"', text)
        expect(f"time limit {text!r}", int(out) if status == 0 else None, want)
    sizes = [("64", 64), ("64M", 64), ("1G", 1024), ("1025K", 2), ("1t", 1048576), ("0", 0),
             ("", None), ("1.5G", None), ("64MB", None), ("-1", None)]
    for text, want in sizes:
        out, status = bash('hedm_slurm_mib "$1" && echo "$REPLY"', text)
        expect(f"memory size {text!r}", int(out) if status == 0 else None, want)
    for seconds, want in [(60, "00:01:00"), (7200, "02:00:00"), (90061, "1-01:01:01")]:
        out, _ = bash('hedm_slurm_time "$1"; echo "$REPLY"', str(seconds))
        expect(f"time {seconds}", out.strip(), want)


def stand_ins(folder):
    """scontrol, sacct, sinfo answering from files in folder (absent: they
    know nothing)."""
    bin_dir = folder / "bin"
    bin_dir.mkdir()
    for name, reply in [("scontrol", "scontrol.txt"), ("sacct", "sacct.txt"), ("sinfo", "sinfo.txt")]:
        (bin_dir / name).write_text(f'#!/bin/sh\n[ -f "{folder}/{reply}" ] || exit 1\ncat "{folder}/{reply}"\n')
        (bin_dir / name).chmod(0o755)
    return dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}")


def endings():
    job = "JobId=12 JobName=hedm-far-field ArrayJobId=7 ArrayTaskId=1"
    memory_line = "slurmstepd-n1: error: StepId=12.batch exceeded memory limit (28311552 > 20971520), being killed\n"
    # scontrol's line, sacct's, the task's output, the node its record names,
    # sinfo's word on it -> the ending and its kind, limit and use.
    cases = [
        (f"{job} JobState=TIMEOUT Reason=TimeLimit TimeLimit=00:01:00 NodeList=n2 ExitCode=0:0", None,
         "slurmstepd-n2: error: *** JOB 12 ON n2 CANCELLED AT 2026-12-09T11:43:17 DUE TO TIME LIMIT ***\n", "", None,
         ("out of time (its limit 00:01:00; job 7_1 on n2)", "time", "60", "")),
        (f"{job} JobState=FAILED Reason=JobLaunchFailure MinMemoryNode=20M NodeList=n1 ExitCode=0:9", None,
         memory_line + "slurmstepd-n1: error: *** JOB 12 ON n1 CANCELLED AT 2026-12-09T11:40:27 ***\n", "", None,
         ("killed for memory (it had used 27 MiB of its 20 MiB; job 7_1 on n1)", "memory", "20", "27")),
        (f"{job} JobState=OUT_OF_MEMORY Reason=OutOfMemory MinMemoryNode=20M NodeList=n1 ExitCode=0:125", None, "", "",
         None, ("killed for memory (its limit 20 MiB; job 7_1 on n1)", "memory", "20", "")),
        (f"{job} JobState=NODE_FAIL Reason=NodeDown NodeList=n2 ExitCode=0:0", None, "", "n2", None,
         ("its node n2 lost (job 7_1; Slurm: NODE_FAIL)", "node", "", "")),
        (f"{job} JobState=CANCELLED Reason=None NodeList=n3 ExitCode=0:15", None,
         "slurmstepd-n3: error: *** JOB 12 ON n3 CANCELLED AT 2026-12-09T11:40:27 ***\n", "", None,
         ("cancelled (job 7_1 on n3)", "cancelled", "", "")),
        (f"{job} JobState=FAILED Reason=JobLaunchFailure NodeList=n1 ExitCode=0:9", None, "", "", None,
         ("killed by signal 9 (job 7_1 on n1)", "signal", "", "")),
        (None, "TIMEOUT|TimeLimit|01:00:00|n4|64M|0:0", "", "", None,
         ("out of time (its limit 01:00:00; job 7_1 on n4)", "time", "3600", "")),
        (None, None, "*** JOB 12 ON n3 CANCELLED AT 2026-12-09T11:43:17 DUE TO TIME LIMIT ***\n", "n3", None,
         ("out of time (job 7_1 on n3)", "time", "", "")),
        (None, None, "", "n3", "down*\n", ("its node n3 is down (job 7_1 on n3)", "node", "", "")),
        (None, None, "", "n3", "idle\n", None),
        (f"{job} JobState=COMPLETED Reason=None NodeList=n1 ExitCode=0:0", None, "", "n1", None, None),
    ]
    for k, (scontrol, sacct, output, node, sinfo, want) in enumerate(cases):
        with tempfile.TemporaryDirectory(prefix="hedm-endings-") as d:
            folder = pathlib.Path(d)
            env = stand_ins(folder)
            for name, text in [("scontrol.txt", scontrol), ("sacct.txt", sacct), ("sinfo.txt", sinfo)]:
                if text is not None:
                    (folder / name).write_text(text + ("\n" if not text.endswith("\n") else ""))
            (folder / "task.out").write_text(output)
            record = folder / "task_0001.txt"
            record.write_text(f"task: 1 of 3\nnumbers: 5 8\njob: 7_1\n{'node: ' + node + chr(10) if node else ''}"
                              f"output: {folder}/task.out\nstate: STARTED 2026-12-09 11:40:00\n")
            out, status = bash('hedm_task_ending "$1" && printf "%s\\n" "$REPLY" "$HEDM_ENDING" '
                               '"$HEDM_ENDING_LIMIT" "$HEDM_ENDING_USED"', str(record), env=env)
            got = tuple(out.split("\n")[:4]) if status == 0 else None
            expect(f"ending {k}", got, want)
            # The status reads the same ending after its words.
            out, _ = bash('hedm_latest_state "$1"; echo "$REPLY"', str(record), env=env)
            expect(f"state {k}", out.strip(),
                   "started, never ended: " + want[0] if want else "started, never ended: cancelled, killed, "
                   "out of time or its node lost")


def leftovers():
    with tempfile.TemporaryDirectory(prefix="hedm-leftovers-") as d:
        folder = pathlib.Path(d)
        logs = folder / "logs"
        logs.mkdir()
        ours = [".scan_00005.ge3.Ab12Cd", ".scan_00008.ge3.zz99ZZ", "logs/.panelpack_00000005.log.partial",
                "logs/.clipcount_00000005.log.partial"]
        others = [".scan_00009.ge3.Ab12Cd", ".scan_00004.ge3.Ab12Cd", ".scan_00006.ge3.Ab12C",
                  ".scan_00006.ge3.Ab12C_", ".scan_6.ge3.Ab12Cd", ".scan_000006.ge3.Ab12Cd", ".scanx_00006.ge3.Ab12Cd",
                  ".sca_00006.ge3.Ab12Cd", "scan_00006.ge3", ".scan_00006.raw.Ab12Cd",
                  "logs/.clipcount_00000009.log.partial", "logs/clipcount_00000005.log"]
        for name in ours + others:
            (folder / name).write_text("part")
        out, _ = bash('hedm_leftovers "$1" scan 5 8 "$1/logs"; printf "%s\\n" "${HEDM_LEFTOVERS[@]}"', str(folder))
        expect("leftovers of share 5 to 8", sorted(out.split()), sorted(f"{folder}/{n}" for n in ours))
        # Negative numbers, and a stem that would be a pattern.
        for name in [".s*_-0007.ge3.Ab12Cd", ".sx_-0007.ge3.Ab12Cd", ".s*_00007.ge3.Ab12Cd"]:
            (folder / name).write_text("part")
        out, _ = bash('hedm_leftovers "$1" "s*" -8 -5 "$1/logs"; printf "%s\\n" "${HEDM_LEFTOVERS[@]}"', str(folder))
        expect("leftovers of a stem s* and numbers -8 to -5", out.split(), [f"{folder}/.s*_-0007.ge3.Ab12Cd"])


def resume():
    """The resume of a run whose share 1 ran out of time and share 2 was
    killed for memory: refused without more, submitted with enough."""
    with tempfile.TemporaryDirectory(prefix="hedm-resume-") as d:
        folder = pathlib.Path(d)
        env = stand_ins(folder)
        for name, body in [("squeue", "exit 0"),
                           ("sbatch", f'printf "%s\\n" "$*" >>"{folder}/sbatch.txt"; echo 99')]:
            (folder / "bin" / name).write_text(f"#!/bin/sh\n{body}\n")
            (folder / "bin" / name).chmod(0o755)
        data = folder / "data"
        data.mkdir()
        for n in range(1, 7):
            (data / f"scan_{n:05d}.raw").write_text("")
        (data / "dark.ge3").write_text("")
        run = folder / "logs" / "7"
        run.mkdir(parents=True)
        (run / "run.txt").write_text(f"arguments: {data} scan 1 6 dark.ge3 14000 3\nshares: 3\nnumbers: 1 6\njob: 7\n")
        (run / "submit.txt").write_text("sbatch options: --cpus-per-task=2\n")
        (run / "task_0000.txt").write_text("job: 7_0\nstate: STARTED x\nstate: COMPLETED: converted 2 images.\n")
        outputs = {1: "*** JOB 8 ON n2 CANCELLED AT 2026-12-09T11:43:17 DUE TO TIME LIMIT ***\n",
                   2: "error: StepId=9.batch exceeded memory limit (90177536 > 20971520), being killed\n"}
        for i, text in outputs.items():
            (folder / f"task{i}.out").write_text(text)
            (run / f"task_000{i}.txt").write_text(f"job: 7_{i}\noutput: {folder}/task{i}.out\nstate: STARTED x\n")
        (folder / "scontrol.txt").write_text("JobId=8 JobState=TIMEOUT TimeLimit=00:30:00 NodeList=n2\n")
        # 86 MiB used when killed: twice that, in steps of 64 MiB.
        cases = [
            ([], ["The share 1 ran out of time (the limit 00:30:00): give a longer time limit, as "
                  "hedm-far-field-resume --time=01:00:00; with the same one it would run out again.",
                  "The share 2 was killed for memory: a share needs 192 MiB"]),
            (["--time=30", "--mem=192M"], ["--time=30 is not longer than 00:30:00, the limit the share 1 ran out of."]),
            (["-t", "1:00:00", "--mem", "100"], ["--mem=100 is less than the 192 MiB a share needs"]),
            (["-t1-0", "--mem=1.5G"], ["--mem=1.5G is not a memory size sbatch takes"]),
            (["--time=soon", "--mem-per-cpu=96M"], ["--time=soon is not a time limit sbatch takes"]),
            (["--time=31", "--mem-per-cpu=96M"], None),
            (["--time=UNLIMITED", "--mem=0"], None),
        ]
        for given, refusals in cases:
            (folder / "sbatch.txt").unlink(missing_ok=True)
            run_ = subprocess.run([BUILD + "/hedm-far-field-resume", str(run), *given], capture_output=True,
                                  text=True, env=env, cwd=folder)
            submitted = (folder / "sbatch.txt").read_text() if (folder / "sbatch.txt").exists() else ""
            if refusals:
                for text in refusals:
                    if text not in run_.stdout:
                        failures.append(f"resume {given}: no {text!r} in {run_.stdout!r}")
                if run_.returncode != 1 or submitted:
                    failures.append(f"resume {given}: status {run_.returncode}, submitted {submitted!r}")
            else:
                want = " ".join(["--cpus-per-task=2", *given, "--array=1-2"])
                if run_.returncode != 0 or want not in submitted:
                    failures.append(f"resume {given}: status {run_.returncode}, {run_.stdout!r}, sbatch {submitted!r}")


readers()
endings()
leftovers()
resume()
for f in failures:
    print("FAILED:", f)
print(f"cluster endings: {0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
