#!/usr/bin/env python3
"""The cluster commands read numbers whole and records as data.

Numbers: a table of spellings (accepted with their value, or refused with
which message), then random strings compared with an independent reading of
the rule through Python's Decimal.  The commands share one reader;
hedm-share is the probe: with START -2147483648, N 1 and the text as END it
prints "-2147483648 <END as read>".

Records: the words the commands write into their records (bash's printf %q)
read back by the shared reader into the same words, for random words of
every byte; lines that would run code were they evaluated are refused and
run nothing; and hedm-merge-counts, hedm-far-field-status and
hedm-far-field-resume refuse runs whose records were edited so, naming the
record, and run nothing.
    tests/cluster_numbers_test.py <build-dir>"""
import os
import pathlib
import random
import re
import subprocess
import sys
import tempfile
from decimal import Context, Decimal, MAX_EMAX, MIN_EMIN, localcontext

BUILD = os.path.abspath(sys.argv[1])
SHARE = BUILD + "/hedm-share"
COMMON = pathlib.Path(__file__).resolve().parent.parent / "tools" / "cluster" / "common.sh"
NOT, RANGE = "not", "range"


def command_reads(text):
    run = subprocess.run([SHARE, "-2147483648", text, "1", "1"], capture_output=True)
    run.stdout = run.stdout.decode()
    if run.returncode == 0:
        return int(run.stdout.split()[1])
    quoted = f'hedm-share: END "{text}" '
    if run.stdout == quoted + "is not a whole number.\n":
        return NOT
    if run.stdout == quoted + "is outside -2147483648 to 2147483647.\n":
        return RANGE
    return f"unexpected: status {run.returncode}, {run.stdout!r} {run.stderr!r}"


def rule(text):
    """The rule read independently: C white space around, then a decimal
    spelling whose exact value is a whole number in the signed 32-bit range
    (a fraction is "not a whole number" however large it is)."""
    s = text.strip(" \t\n\v\f\r")
    if not re.fullmatch(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?", s):
        return NOT
    with localcontext(Context(prec=100000, Emax=MAX_EMAX, Emin=MIN_EMIN)):
        d = Decimal(s)
        if d.is_zero():
            return 0
        if d != d.to_integral_value():
            return NOT
        if d.adjusted() >= 10:
            return RANGE
        v = int(d)
    return v if -2**31 <= v < 2**31 else RANGE


TABLE = [
    ("14000", 14000), (" 14000 ", 14000), ("\t+7\n", 7), ("-12", -12), ("007", 7),
    ("14000.0", 14000), ("1.4e4", 14000), ("1.4E+4", 14000), ("140000e-1", 14000),
    ("1.", 1), (".5e1", 5), ("-0", 0), ("0e999999999999", 0), ("2147483647", 2147483647),
    ("-2147483648", -2147483648), ("2.147483647e9", 2147483647),
    ("14k", NOT), ("1x", NOT), ("", NOT), (" ", NOT), ("0x10", NOT), ("nan", NOT), ("inf", NOT),
    ("1.5", NOT), ("1e-1", NOT), ("e3", NOT), (".", NOT), ("1e", NOT), ("+-1", NOT), ("1 2", NOT),
    ("1_000", NOT), ("1,5", NOT), ("1e-999999999999", NOT),
    ("2147483648", RANGE), ("-2147483649", RANGE), ("1e10", RANGE), ("99999999999", RANGE),
    ("1e999999999999", RANGE),
]


def spelling(rng):
    """A random string near the grammar: a number of random parts, perhaps spoilt."""
    parts = [rng.choice(["", "", " ", "\t", "\n"]), rng.choice(["", "", "+", "-"]),
             "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 12)))]
    if rng.random() < 0.5:
        parts += [".", "".join(rng.choice("00000123456789") for _ in range(rng.randint(0, 6)))]
    if rng.random() < 0.5:
        parts += [rng.choice("eE"), rng.choice(["", "+", "-"]), str(rng.randint(0, 14))]
    parts.append(rng.choice(["", "", " ", "\r"]))
    text = "".join(parts)
    if text and rng.random() < 0.2:
        i = rng.randrange(len(text))
        text = text[:i] + rng.choice("x.e+- 0k") + text[i + 1:]
    return text


failures = 0
for text, expect in TABLE:
    got = command_reads(text)
    if got != expect or rule(text) != expect:
        print(f"{text!r}: the command read {got!r}, the rule {rule(text)!r}, the table says {expect!r}")
        failures += 1
rng = random.Random(22)
for _ in range(400):
    text = spelling(rng)
    got, expect = command_reads(text), rule(text)
    if got != expect:
        print(f"{text!r}: the command read {got!r}, the rule says {expect!r}")
        failures += 1


def read_back(words, cwd=None):
    """The words as a record holds them, and as the reader gives them back."""
    script = f'source "{COMMON}"; hedm_quote "$@"; printf "%s\\0" "$REPLY"; ' \
             'hedm_words "$REPLY" || { echo "refused: $REPLY"; exit 1; }; printf "%s\\0" "${REPLY_WORDS[@]}"'
    run = subprocess.run(["bash", "-c", script, "probe", *words], capture_output=True, cwd=cwd)
    if run.returncode != 0:
        return None, run.stdout
    line, *back = run.stdout.split(b"\0")[:-1]
    return back, line


rng = random.Random(29)
alphabet = [bytes([b]) for b in range(1, 256)] + [b" ", b"'", b"\\", b"$", b"\n", "é".encode(), "°".encode()]
for _ in range(60):
    words = [b"".join(rng.choice(alphabet) for _ in range(rng.randint(0, 12))) for _ in range(rng.randint(1, 8))]
    words = [w.decode("utf-8", "surrogateescape") for w in words]
    back, line = read_back([os.fsencode(w) for w in words])
    if back != [os.fsencode(w) for w in words]:
        print(f"{words!r}: recorded as {line!r}, read back as {back!r}")
        failures += 1

# Lines no command writes, each of which would run `touch CANARY` if it
# were evaluated: refused, and nothing run.
HOSTILE = ["$(touch CANARY)", "`touch CANARY`", "a; touch CANARY", "a && touch CANARY", "a | touch CANARY",
           "x=$(touch CANARY)", "'a' $(touch CANARY)", "a\\ b $(touch CANARY)", "$'a' `touch CANARY`",
           "a[$(touch CANARY)]", "'unclosed $(touch CANARY)", "$'\\q' $(touch CANARY)", "a\\"]
with tempfile.TemporaryDirectory() as work:
    for line in HOSTILE:
        run = subprocess.run(["bash", "-c", f'source "{COMMON}"; hedm_words "$1" && echo "read: ${{REPLY_WORDS[*]}}"',
                              "probe", line], cwd=work, capture_output=True, text=True)
        if run.returncode == 0 or os.path.exists(os.path.join(work, "CANARY")):
            print(f"{line!r}: {run.stdout.strip()!r}, status {run.returncode}, canary {os.path.exists(os.path.join(work, 'CANARY'))}")
            failures += 1
    # The same code as words a command recorded: read back as text, run never.
    for words in (["$(touch CANARY)", "`touch CANARY`"], ["x=$(touch CANARY)", "a;`touch CANARY`|b", "$'\\n'"]):
        back, line = read_back([w.encode() for w in words], cwd=work)
        if back != [w.encode() for w in words] or os.path.exists(os.path.join(work, "CANARY")):
            print(f"{words!r}: recorded as {line!r}, read back as {back!r}")
            failures += 1

    # A dark list whose last line has no newline: its last stack is a
    # stack like the others (a task of its own, its median, its checks).
    dark_list = pathlib.Path(work, "darks.txt")
    dark_list.write_text(f"{work}/a.ge3 {work}/a_median.ge3\n\n{work}/b.ge3 {work}/b_median.ge3")
    run = subprocess.run(["bash", "-c", f'source "{COMMON}"; hedm_dark_stacks "$1" | wc -l; hedm_dark_medians "$1"; '
                          'hedm_dark_list_checks /nowhere "$1"; echo "status $?"', "probe", dark_list],
                         capture_output=True, text=True)
    expect = ["2", f"{work}/a_median.ge3", f"{work}/b_median.ge3",
              f"The dark stack {work}/a.ge3 (line 1 of {dark_list}) does not exist or cannot be read.",
              f"The dark stack {work}/b.ge3 (line 3 of {dark_list}) does not exist or cannot be read.",
              "The program /nowhere/StackCollapse is missing.", "status 1"]
    if run.stdout.split("\n")[:-1] != expect:
        print(f"a dark list without its last newline: {run.stdout!r}")
        failures += 1

    # Runs whose records were edited: each command refuses, naming the
    # record, and runs nothing.
    def command(cmd, *args, cwd):
        env = dict(os.environ, PATH=BUILD + ":" + os.environ["PATH"])
        run = subprocess.run([f"{BUILD}/{cmd}", *args], cwd=cwd, env=env, capture_output=True, text=True)
        return run.returncode, run.stdout + run.stderr

    def run_folder(name, arguments, submit=None, share=None):
        folder = pathlib.Path(work, name)
        run = folder / "logs" / "4711"
        run.mkdir(parents=True)
        (run / "run.txt").write_text(f"arguments: {arguments}\nshares: 2\nnumbers: 1 4\njob: 4711\n")
        if submit is not None:
            (run / "submit.txt").write_text(f"sbatch options: {submit}\ndark list: {folder}/darks.txt\njobs: 4710 4711\n")
        if share is not None:
            local = folder / "logs" / "run_0001"
            local.mkdir()
            (local / "share_00000001.txt").write_text(f"arguments: {share}\nstate: COMPLETED: converted 2 images.\n")
            (local / "clipcount_00000001.log").write_text("Number of saturated pixels per dark frame = 0.\nTime elapsed: 0.0 s.\n")
        return folder

    good = f"{work}/data scan 1 4 dark.ge3 14000 2"
    EDITED = [  # (what, run.txt arguments, sbatch options, the words expected in the message)
        ("a command substitution", "$(touch CANARY) scan 1 4 dark.ge3 14000 2", None, "stands unquoted"),
        ("backquotes", f"{work}/data `touch CANARY` 1 4 dark.ge3 14000 2", None, "stands unquoted"),
        ("a number that is none", f"{work}/data scan 1x 4 dark.ge3 14000 2", None, '"1x" where a whole number belongs'),
        ("an arithmetic subscript", f"{work}/data scan 1 4 dark.ge3 14000 a\\[\\$\\(touch\\ CANARY\\)\\]", None,
         "where a whole number belongs"),
        ("six arguments", f"{work}/data scan 1 4 dark.ge3 14000", None, "does not hold the 7 arguments of a run"),
        ("no share", f"{work}/data scan 1 4 dark.ge3 14000 0", None, "0 shares"),
    ]
    for k, (what, arguments, options, expect) in enumerate(EDITED):
        folder = run_folder(f"edited{k}", arguments, options)
        for cmd in ("hedm-merge-counts", "hedm-far-field-status", "hedm-far-field-resume"):
            status, said = command(cmd, cwd=folder)
            if status == 0 or "run.txt" not in said or expect not in said or (folder / "CANARY").exists():
                print(f"{cmd} on a run.txt with {what}: status {status}, said {said.strip()!r}")
                failures += 1
    folder = run_folder("options", good, "--job-name=x\\ \\$\\(touch\\ CANARY\\) $(touch CANARY)")
    status, said = command("hedm-far-field-resume", cwd=folder)
    if status == 0 or "submit.txt: its sbatch options are not as these commands write them" not in said:
        print(f"hedm-far-field-resume on edited sbatch options: status {status}, said {said.strip()!r}")
        failures += 1
    folder = run_folder("wrap", good, "--wrap=touch\\ CANARY")
    status, said = command("hedm-far-field-resume", cwd=folder)
    if status == 0 or "its sbatch options hold --wrap=touch CANARY" not in said:
        print(f"hedm-far-field-resume on --wrap: status {status}, said {said.strip()!r}")
        failures += 1
    folder = run_folder("share", good, share="$(touch CANARY) scan 1 2 dark.ge3 14000")
    status, said = command("hedm-merge-counts", "logs/run_0001", cwd=folder)
    if status == 0 or "share_00000001.txt: its arguments line is not as these commands write it" not in said:
        print(f"hedm-merge-counts on an edited share record: status {status}, said {said.strip()!r}")
        failures += 1
    canaries = list(pathlib.Path(work).rglob("CANARY"))
    if canaries:
        print(f"a record was run as code: {canaries}")
        failures += 1

print(f"cluster numbers and records: {'1 passed, 0 failed' if failures == 0 else '0 passed, 1 failed'}")
sys.exit(1 if failures else 0)
