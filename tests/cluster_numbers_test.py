#!/usr/bin/env python3
"""The cluster commands read numbers whole: a table of spellings (accepted
with their value, or refused with which message), then random strings
compared with an independent reading of the rule through Python's Decimal.
The commands share one reader; hedm-share is the probe: with START
-2147483648, N 1 and the text as END it prints "-2147483648 <END as read>".
    tests/cluster_numbers_test.py <build-dir>"""
import random
import re
import subprocess
import sys
from decimal import Context, Decimal, MAX_EMAX, MIN_EMIN, localcontext

SHARE = sys.argv[1] + "/hedm-share"
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
print(f"cluster numbers: {'1 passed, 0 failed' if failures == 0 else '0 passed, 1 failed'}")
sys.exit(1 if failures else 0)
