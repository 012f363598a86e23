#!/usr/bin/python3
"""Checks JSON Lines reports of zarvik --json against the report's schema.

  validate_report.py [--schema SCHEMA] [FILE ...]

Reads each FILE, or standard input without one, and checks the schema
itself (JSON Schema draft 2020-12) and then every line: UTF-8, ending in LF
with no CR, one JSON object without duplicate keys or NaN, valid under the
schema. Stops at the first bad line with its file, line number and the
error; exit code 0 when all is well, 1 for a bad or empty input, 2 for a
usage error. The schema is doc/zarvik-report.schema.json of this tree
unless --schema names another.
"""

import argparse
import json
import pathlib
import sys

import jsonschema

DEFAULT_SCHEMA = pathlib.Path(__file__).resolve().parents[2] / "doc" / "zarvik-report.schema.json"


class BadLine(Exception):
    pass


def no_duplicates(pairs):
    keys = [key for key, _ in pairs]
    for key in keys:
        if keys.count(key) > 1:
            raise BadLine(f"duplicate key {key!r}")
    return dict(pairs)


def refuse_constant(name):
    raise BadLine(f"{name} is not JSON")


def closest_error(schema, record, error):
    """For a record that no branch of the oneOf takes, the error of the
    branch its type names: "not valid under any of the given schemas" says
    nothing of which field is wrong."""
    if error.validator != "oneOf" or not isinstance(record, dict):
        return error
    refs = [branch.get("$ref", "") for branch in schema.get("oneOf", [])]
    wanted = f"#/$defs/{record.get('type')}"
    if wanted not in refs:
        return error
    branch = [e for e in error.context if e.relative_schema_path[0] == refs.index(wanted)]
    return jsonschema.exceptions.best_match(branch) or error


def check_line(validator, raw):
    if not raw.endswith(b"\n"):
        raise BadLine("no LF at the end: an incomplete record")
    if b"\r" in raw:
        raise BadLine("holds a CR")
    try:
        text = raw[:-1].decode("utf-8")
    except UnicodeDecodeError as error:
        raise BadLine(f"not UTF-8: {error}") from None
    try:
        record = json.loads(text, object_pairs_hook=no_duplicates, parse_constant=refuse_constant)
    except json.JSONDecodeError as error:
        raise BadLine(f"not JSON: {error}") from None
    error = jsonschema.exceptions.best_match(validator.iter_errors(record))
    if error is not None:
        error = closest_error(validator.schema, record, error)
        where = "/".join(str(part) for part in error.absolute_path) or "(record)"
        raise BadLine(f"{where}: {error.message}")


def check_stream(validator, name, stream):
    """The number of lines checked; raises BadLine for the first bad one."""
    count = 0
    for count, raw in enumerate(stream, start=1):
        try:
            check_line(validator, raw)
        except BadLine as error:
            raise BadLine(f"{name}:{count}: {error}") from None
    if count == 0:
        raise BadLine(f"{name}: empty: no record")
    return count


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--schema", type=pathlib.Path, default=DEFAULT_SCHEMA)
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()

    schema = json.loads(args.schema.read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    try:
        if not args.files:
            check_stream(validator, "<stdin>", sys.stdin.buffer)
        for name in args.files:
            with open(name, "rb") as stream:
                check_stream(validator, name, stream)
    except (BadLine, OSError) as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
