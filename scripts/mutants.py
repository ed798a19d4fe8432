#!/usr/bin/env python3
"""Checks that the test suite catches the faults listed in scripts/mutants.txt.

Each mutant replaces one exact text in one file. The script applies one
mutant at a time, rebuilds incrementally, runs the whole suite and restores
the file, whatever happens (a failed build, Ctrl-C, a termination signal).
A mutant is killed when the suite fails. A mutant whose text is not found
exactly once is refused, never guessed at.

  scripts/mutants.py                 every mutant, in place, build dir build-mutants
  scripts/mutants.py --check         only check that every mutant applies
  scripts/mutants.py -k NAME ...     only the named mutants
  scripts/mutants.py --source DIR --build DIR --out FILE
  scripts/mutants.py --binaries      run each test program whole instead of
                                     ctest's one process per test (faster)

Builds use ccache when CMAKE_CXX_COMPILER_LAUNCHER is set (see README).
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path


def parse_list(path):
    mutants, current = [], None
    for number, raw in enumerate(Path(path).read_text().splitlines(), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        header = re.fullmatch(r"\[(.+)\]", line.strip())
        if header:
            current = {"name": header.group(1), "line": number}
            mutants.append(current)
            continue
        field = re.fullmatch(r"(file|from|to)\s*=\s?(.*)", line)
        if not field or current is None:
            sys.exit(f"{path}:{number}: cannot read {line!r}")
        value = field.group(2)
        if field.group(1) != "file":
            value = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), value)
        current[field.group(1)] = value
    for mutant in mutants:
        missing = [key for key in ("file", "from", "to") if key not in mutant]
        if missing:
            sys.exit(f"{path}:{mutant['line']}: mutant {mutant['name']} lacks {', '.join(missing)}")
    names = [m["name"] for m in mutants]
    duplicates = {n for n in names if names.count(n) > 1}
    if duplicates:
        sys.exit(f"{path}: duplicate names: {', '.join(sorted(duplicates))}")
    return mutants


def why_refused(source, mutant):
    target = source / mutant["file"]
    if not target.is_file():
        return "file not found"
    found = target.read_text().count(mutant["from"])
    if found != 1:
        return f"text found {found} times"
    return None


class Applied:
    """Applies a mutant for the length of a with-block and always restores."""

    def __init__(self, source, mutant):
        self.path = source / mutant["file"]
        self.mutant = mutant

    def __enter__(self):
        self.original = self.path.read_bytes()
        text = self.original.decode()
        self.path.write_text(text.replace(self.mutant["from"], self.mutant["to"], 1))
        return self

    def __exit__(self, *exc):
        self.path.write_bytes(self.original)
        return False


def run(command, log, timeout=None, cwd=None):
    with open(log, "a") as out:
        out.write(f"\n$ {' '.join(map(str, command))}\n")
        out.flush()
        # Own process group, so an interrupted run leaves no children behind.
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, start_new_session=True, cwd=cwd)
        try:
            return process.wait(timeout=timeout)
        except BaseException:
            try:
                os.killpg(process.pid, signal.SIGTERM)
                process.wait(timeout=10)
            except Exception:
                os.killpg(process.pid, signal.SIGKILL)
            raise


def test_programs(build, log):
    """The test programs ctest runs, each once, with their working folders."""
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], capture_output=True, text=True,
                             check=True)
    programs = {}
    for test in json.loads(listing.stdout)["tests"]:
        folder = next((p["value"] for p in test.get("properties", []) if p["name"] == "WORKING_DIRECTORY"), build)
        programs.setdefault(test["command"][0], folder)
    return sorted(programs.items())


def run_programs(programs, log, jobs, timeout):
    """Runs the programs `jobs` at a time; 0 when all pass, else 1 (and
    the failing program is named in the log)."""
    waiting = list(programs)
    running = []
    failed = False
    with open(log, "a") as out:
        out.write("\n$ ctest (the test programs whole)\n")
        out.flush()
        try:
            while (waiting and not failed) or running:
                while waiting and not failed and len(running) < jobs:
                    program, folder = waiting.pop(0)
                    process = subprocess.Popen([program, "--gtest_brief=1"], cwd=folder, stdout=out,
                                               stderr=subprocess.STDOUT, start_new_session=True)
                    running.append((process, program, time.time()))
                for entry in list(running):
                    process, program, began = entry
                    code = process.poll()
                    if code is None and time.time() - began > timeout:
                        os.killpg(process.pid, signal.SIGKILL)
                        code = process.wait()
                    if code is None:
                        continue
                    running.remove(entry)
                    if code != 0:
                        failed = True
                        out.write(f"\nprogram failed: {os.path.basename(program)}\n")
                        out.flush()
                time.sleep(0.05)
        finally:
            for process, _, _ in running:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
    return 1 if failed else 0


def failed_tests(log):
    text = Path(log).read_text(errors="replace")
    tail = text[text.rfind("\n$ ctest") :]
    names = re.findall(r"\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|Child aborted|"
                       r"Exception|OTHER_FAULT)", tail)
    names += re.findall(r"^\[  FAILED  \] ([\w/.]+)(?: \(|$)", tail, re.M)
    names += re.findall(r"^program failed: (\S+)", tail, re.M)
    return sorted(set(names))


def main():
    root = Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", type=Path, default=root, help="tree to mutate (default: this repository)")
    parser.add_argument("--build", type=Path, help="build directory (default: SOURCE/build-mutants)")
    parser.add_argument("--list", type=Path, default=root / "scripts" / "mutants.txt")
    parser.add_argument("--out", type=Path, help="also write the table to this file, row by row")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test (default 120)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--binaries", action="store_true",
                        help="run each test program whole (timeout per program) instead of ctest per test")
    parser.add_argument("--check", action="store_true", help="only check that every mutant applies")
    parser.add_argument("-k", "--only", nargs="+", metavar="NAME", help="run only these mutants")
    args = parser.parse_args()

    source = args.source.resolve()
    build = (args.build or source / "build-mutants").resolve()
    mutants = parse_list(args.list)
    if args.only:
        unknown = set(args.only) - {m["name"] for m in mutants}
        if unknown:
            sys.exit(f"unknown mutants: {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m["name"] in args.only]

    refusals = {m["name"]: why_refused(source, m) for m in mutants}
    for name, reason in refusals.items():
        if reason:
            print(f"refused {name}: {reason}", file=sys.stderr)
    if args.check:
        print(f"{sum(r is None for r in refusals.values())} of {len(mutants)} mutants apply")
        return 1 if any(refusals.values()) else 0

    # A termination signal unwinds like Ctrl-C, so every file is restored.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    build.mkdir(parents=True, exist_ok=True)
    log = build / "mutants.log"
    log.write_text("")
    env_note = "" if os.environ.get("CMAKE_CXX_COMPILER_LAUNCHER") else " (no CMAKE_CXX_COMPILER_LAUNCHER: no ccache)"
    print(f"building in {build}{env_note}; log {log}", flush=True)
    if not (build / "CMakeCache.txt").exists():
        if run(["cmake", "--preset", "default", "-B", build], log, cwd=source) != 0:
            sys.exit("configure failed; see the log")
    build_command = ["cmake", "--build", build, f"-j{args.jobs}"]
    test_command = ["ctest", "--test-dir", build, f"-j{args.jobs}", "--timeout", str(args.timeout),
                    "--stop-on-failure", "--output-on-failure"]
    if run(build_command, log) != 0:
        sys.exit("the unmutated tree does not build; see the log")
    if args.binaries:
        programs = test_programs(build, log)

        def run_suite():
            return run_programs(programs, log, args.jobs, args.timeout)
    else:

        def run_suite():
            return run(test_command, log)

    started = time.time()
    if run_suite() != 0:
        sys.exit(f"the unmutated suite fails ({', '.join(failed_tests(log))}); see the log")
    print(f"unmutated suite passes ({time.time() - started:.0f} s)", flush=True)

    rows = []
    out = open(args.out, "w") if args.out else None

    def emit(row):
        rows.append(row)
        line = f"{row[0]:<38} {row[1]:<9} {row[2]:>5}  {row[3]}"
        print(line, flush=True)
        if out:
            out.write(line + "\n")
            out.flush()

    emit(("mutant", "result", "secs", "first failing tests"))
    try:
        for mutant in mutants:
            if refusals[mutant["name"]]:
                emit((mutant["name"], "refused", 0, refusals[mutant["name"]]))
                continue
            began = time.time()
            with Applied(source, mutant):
                if run(build_command, log) != 0:
                    emit((mutant["name"], "no-build", round(time.time() - began), "does not compile"))
                    continue
                code = run_suite()
            result = "survived" if code == 0 else "killed"
            emit((mutant["name"], result, round(time.time() - began), ", ".join(failed_tests(log)[:3])))
    except KeyboardInterrupt:
        print("interrupted; every file is restored", file=sys.stderr)
        return 130
    finally:
        if out:
            out.close()
    killed = sum(r[1] == "killed" for r in rows[1:])
    survived = [r[0] for r in rows[1:] if r[1] == "survived"]
    print(f"\n{killed} killed, {len(survived)} survived of {len(rows) - 1}"
          + (f": {', '.join(survived)}" if survived else ""))
    if out is not None:
        with open(args.out, "a") as summary:
            summary.write(f"\n{killed} killed, {len(survived)} survived of {len(rows) - 1}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
