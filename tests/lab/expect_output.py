#!/usr/bin/env python3
"""Runs a command and compares its standard output byte for byte with an
expected text, and its exit code with an expected code.

    expect_output.py [--name NAME] [--exit N] [--expect-file FILE | --expect TEXT]
                     [--raw] [--timeout SECONDS] -- COMMAND [ARG...]

The expected text is written with plain line feeds; every line feed becomes
CR LF before the comparison, because the program ends each line it prints
with CR LF.  With --raw the expected bytes are compared as they are.

A part of the expected text written as {{re:PATTERN}} matches whatever the
regular expression PATTERN matches within one line (use it for the few
values that change from run to run, such as dates in a certificate); all
other characters are matched literally.

Exits 0 when output and exit code match, 1 when they do not (printing what
differs, with carriage returns made visible), 2 on bad usage.
"""

import argparse
import difflib
import re
import subprocess
import sys

PLACEHOLDER = re.compile(r"\{\{re:(.*?)\}\}")


def expected_bytes(text: str, raw: bool) -> bytes:
    if not raw:
        text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    return text.encode("utf-8")


def matches(expected: bytes, actual: bytes) -> bool:
    # Latin-1 maps every byte to one character, so the regular expression
    # sees the exact bytes and nothing is lost in decoding.
    exp = expected.decode("latin-1")
    if "{{re:" not in exp:
        return expected == actual
    pattern = []
    last = 0
    for m in PLACEHOLDER.finditer(exp):
        pattern.append(re.escape(exp[last:m.start()]))
        # Without re.DOTALL a "." stops at the line end.
        pattern.append("(?:%s)" % m.group(1))
        last = m.end()
    pattern.append(re.escape(exp[last:]))
    return re.fullmatch("".join(pattern), actual.decode("latin-1")) is not None


def visible_lines(data: bytes) -> list:
    text = data.decode("latin-1").replace("\r", "\\r")
    return [line + "\n" for line in text.split("\n")]


def main() -> int:
    parser = argparse.ArgumentParser(add_help=True)
    parser.add_argument("--name", default="")
    parser.add_argument("--exit", type=int, default=None, dest="exit_code")
    parser.add_argument("--expect-file")
    parser.add_argument("--expect")
    parser.add_argument("--raw", action="store_true")
    parser.add_argument("--timeout", type=float, default=120.0)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command or (args.expect_file is None) == (args.expect is None):
        parser.print_usage(sys.stderr)
        return 2
    if args.expect_file is not None:
        with open(args.expect_file, encoding="utf-8", newline="") as f:
            text = f.read()
    else:
        text = args.expect
    expected = expected_bytes(text, args.raw)

    label = args.name or " ".join(command)
    try:
        run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=args.timeout)
    except subprocess.TimeoutExpired as e:
        print(f"FAIL {label}: no end within {args.timeout:g} s", file=sys.stderr)
        if e.stdout:
            sys.stderr.writelines(visible_lines(e.stdout))
        return 1
    except OSError as e:
        print(f"FAIL {label}: cannot run {command[0]}: {e}", file=sys.stderr)
        return 1

    ok = True
    if args.exit_code is not None and run.returncode != args.exit_code:
        print(f"FAIL {label}: exit code {run.returncode}, expected {args.exit_code}",
              file=sys.stderr)
        ok = False
    if not matches(expected, run.stdout):
        print(f"FAIL {label}: output differs (- expected, + actual; \\r shown)",
              file=sys.stderr)
        sys.stderr.writelines(difflib.unified_diff(
            visible_lines(expected), visible_lines(run.stdout), "expected", "actual", n=2))
        ok = False
    if not ok and run.stderr:
        print("standard error:", file=sys.stderr)
        sys.stderr.write(run.stderr.decode("utf-8", "replace"))
    if ok:
        print(f"ok   {label}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
