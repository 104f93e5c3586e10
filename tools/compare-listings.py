#!/usr/bin/env python3
"""Runs two builds of tdump on the same inputs with the same switches and
reports every listing that differs.

    tools/compare-listings.py [--old OLD_TDUMP --new NEW_TDUMP] [options]

The inputs: the fixtures the native build writes (build/<preset>/tdump/fixtures,
or --fixtures), the seeds of the fuzz target (tdump/fuzz/write_seeds.cpp,
compiled here with the host compiler), a handful of Wine's DLLs, and --fuzzed
deterministic mutations of the seeds (byte flips, truncations, inserted bytes,
large counts). Each is listed with no switch, with every switch the window
passes (read from command/dump_option_catalogue.cpp) and with the longer forms
the tests use.

Starting a process per listing would cost more than most listings, so each
version lists everything in one process: tools/listing_hashes.cpp, built
here from the sources of --old-commit and of --new-commit (or the work
tree), runs tdump's whole program on each command line and writes hashes of
the listing. A listing whose hashes differ is listed again by the two
programs, --old and --new (by default the two built here, with --print),
and judged from their listings.

Two kinds of difference are counted but not shown, since the newer build may
have them on purpose: added damage reports (lines starting with "** ") and a
listing cut at another point by the work bound (both are then compared up to
the shorter one). Everything else is shown. Exit status 1 when anything is.
"""

import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STOPPED = "** the listing stopped early"


def is_report(line):
    return line.lstrip(" ").startswith("** ")

WINE_DLLS = "/usr/lib/x86_64-linux-gnu/wine"
DLLS = ["x86_64-windows/version.dll", "x86_64-windows/msvcrt.dll", "x86_64-windows/ws2_32.dll",
        "x86_64-windows/imm32.dll", "i386-windows/version.dll", "i386-windows/msvcrt.dll"]

# The longer forms of the switches, as the tests write them, and combinations.
LONGER_FORMS = [
    ["-eiHDR"], ["-eiOBJ"], ["-eiFIX"], ["-eiNAM"], ["-eiENT"], ["-eiRES"], ["-eiTLS"],
    ["-eiCFG"], ["-eiEXC"], ["-eiCRT"], ["-eiOVL"], ["-eiNOPE"], ["-ei?"], ["-ee=x"],
    ["-eex"], ["-em=k"], ["-em.k"], ["-li=x"], ["-ia"], ["-ib"], ["-ibcd"], ["-ik"], ["-ilmn"],
    ["-iqr"], ["-i?"], ["-iz"], ["-xh"], ["-xbh"], ["-oi.text"], ["-ox.debug"], ["-oi?"],
    ["-oiPUBDEF"], ["-oxLEDATA"], ["-oiLEDATA32"], ["-oiNOSUCH"], ["-b0x40"], ["-b16"],
    ["-b99999999"], ["-bz"], ["-v"], ["-m"], ["-r"], ["-R"],
    ["-e", "-v"], ["-e", "-ed", "-er"], ["-ex", "-e"], ["-C", "-v", "-m"], ["-C", "-R", "-r"],
    ["-o", "-v"], ["-o", "-C"], ["-d", "-v"], ["-d", "-ed"], ["-ee", "-em", "-em."],
    ["-l", "-li", "-v"], ["-l", "-C", "-oc"], ["-h", "-a", "-a7"], ["-b0x40", "-a"],
    ["-oi.text", "-ox.text$mn", "-r"], ["-oiPUBDEF", "-oxLEDATA", "-v"], ["-ia", "-xb", "-d"],
    ["-um", "-m"], ["-e", "-C", "-d", "-R", "-li", "-oc", "-r", "-l", "-o"],
]


def catalogue_switches():
    """The 28 switches the window passes, as its catalogue writes them."""
    path = os.path.join(ROOT, "command", "dump_option_catalogue.cpp")
    with open(path, encoding="utf-8") as f:
        rows = re.findall(r'\{\s*\d+\s*,\s*"[^"]*"\s*,\s*"(?:[^"\\]|\\.)*"\s*,\s*"([^"]*)"\s*\}',
                          f.read())
    if len(rows) != 28:
        sys.exit(f"compare-listings: found {len(rows)} catalogue rows, not 28")
    return [[switch] for switch in rows]


def write_seeds(source_root, work):
    """Compiles the fuzz target's seed writer and runs it; returns the seed files."""
    folder = os.path.join(work, "seeds")
    os.makedirs(folder, exist_ok=True)
    program = os.path.join(work, "write_seeds")
    tests = os.path.join(source_root, "tdump", "tests")
    subprocess.run([os.environ.get("CXX", "g++"), "-std=c++20", "-O1", "-I", tests,
                    os.path.join(source_root, "tdump", "fuzz", "write_seeds.cpp"),
                    os.path.join(tests, "image_builder.cpp"), "-o", program], check=True)
    subprocess.run([program, folder], check=True)
    return sorted(os.path.join(folder, name) for name in os.listdir(folder))


def mutate(data, rng):
    """One deterministic mutation: flipped bytes, a truncation or inserted bytes."""
    data = bytearray(data)
    kind = rng.randrange(4)
    if kind == 0 or not data:
        for _ in range(rng.randint(1, 8)):
            if data:
                data[rng.randrange(len(data))] ^= rng.randint(1, 255)
    elif kind == 1:
        del data[rng.randrange(len(data)):]
    elif kind == 2:
        at = rng.randrange(len(data) + 1)
        data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
    else:
        # A field made large: a count or offset somewhere in the headers.
        at = rng.randrange(min(len(data), 512))
        data[at:at + 4] = rng.choice([b"\xff\xff\xff\x7f", b"\x00\x00\x01\x00", b"\xff\xff"])
    return bytes(data)


def fuzzed_inputs(seeds, count, work):
    folder = os.path.join(work, "fuzzed")
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(945)
    contents = []
    for path in seeds:
        with open(path, "rb") as f:
            contents.append(f.read())
    paths = []
    for i in range(count):
        data = contents[i % len(contents)]
        for _ in range(1 + rng.randrange(3)):
            data = mutate(data, rng)
        path = os.path.join(folder, f"{i:05d}-{os.path.basename(seeds[i % len(seeds)])}")
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    return paths


def checkout(commit, work, name):
    """The tdump sources of commit, in a folder of work."""
    folder = os.path.join(work, name)
    os.makedirs(folder)
    archive = subprocess.run(["git", "-C", ROOT, "archive", commit, "tdump"],
                             capture_output=True, check=True).stdout
    subprocess.run(["tar", "-x", "-C", folder], input=archive, check=True)
    return folder


def build_hasher(source_root, work, name):
    """Builds tools/listing_hashes.cpp against the tdump sources under source_root."""
    with open(os.path.join(source_root, "tdump", "CMakeLists.txt"), encoding="utf-8") as f:
        listed = re.search(r"add_library\(tdump_core STATIC([^)]*)\)", f.read()).group(1).split()
    sources = [os.path.join(source_root, "tdump", name) for name in listed]
    program = os.path.join(work, name)
    return program, subprocess.Popen(
        [os.environ.get("CXX", "g++"), "-std=c++20", "-O2", "-finput-charset=UTF-8",
         "-fexec-charset=CP932", "-I", os.path.join(source_root, "tdump", "src"),
         os.path.join(ROOT, "tools", "listing_hashes.cpp"), *sources, "-pthread", "-o",
         program])


def hashes(program, jobs, work, name):
    """Status, size and hash of each job's listing, listed by program in one process."""
    request = os.path.join(work, name + ".jobs")
    with open(request, "w", encoding="latin-1") as f:
        for path, switches in jobs:
            f.write("\t".join([*switches, path]) + "\n")
    with open(request, encoding="latin-1") as stdin:
        result = subprocess.run([program], stdin=stdin, capture_output=True, check=False)
    lines = result.stdout.decode().splitlines()
    if len(lines) != len(jobs):
        sys.exit(f"compare-listings: {program} stopped after {len(lines)} of {len(jobs)} "
                 f"listings (status {result.returncode}): tdump {' '.join(jobs[len(lines)][1])} "
                 f"{jobs[len(lines)][0]}")
    return lines


def run(tdump, switches, path):
    result = subprocess.run([*tdump, *switches, path], capture_output=True, timeout=300)
    return result.returncode, result.stdout.decode("latin-1").split("\n")


def without_reports(lines):
    return [line for line in lines if not is_report(line)]


def stopped_body(lines):
    """The listing without its closing "stopped early" lines, and whether it had them."""
    for i, line in enumerate(lines):
        if line.lstrip(" ").startswith(STOPPED):
            end = i - 1 if i > 0 and lines[i - 1] == "" else i
            return lines[:end], True
    return lines, False


def classify(old, new):
    """"same", "reports" (only added ** lines), "bound" (cut elsewhere) or "differs"."""
    (old_status, old_lines), (new_status, new_lines) = old, new
    if old == new:
        return "same"
    if old_status != new_status:
        return "differs"
    if without_reports(old_lines) == without_reports(new_lines):
        # Only added: the old reports are among the new ones, in order.
        added = iter(line for line in new_lines if is_report(line))
        if all(any(line == other for other in added) for line in old_lines if is_report(line)):
            return "reports"
        return "differs"
    old_body, old_stopped = stopped_body(old_lines)
    new_body, new_stopped = stopped_body(new_lines)
    if old_stopped or new_stopped:
        old_body, new_body = without_reports(old_body), without_reports(new_body)
        n = min(len(old_body), len(new_body))
        # The last line of the shorter listing may have been cut inside.
        if n == 0 or (old_body[:n - 1] == new_body[:n - 1] and
                      (old_body[n - 1].startswith(new_body[n - 1]) or
                       new_body[n - 1].startswith(old_body[n - 1]))):
            return "bound"
    return "differs"


def first_difference(old, new):
    old_lines, new_lines = old[1], new[1]
    for i, (a, b) in enumerate(zip(old_lines, new_lines)):
        if a != b:
            return f"line {i + 1}:\n      old: {a[:160]}\n      new: {b[:160]}"
    return (f"lengths {len(old_lines)} and {len(new_lines)} lines, "
            f"status {old[0]} and {new[0]}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--old", help="the tdump to compare against (default: built here)")
    parser.add_argument("--new", help="the tdump under test (default: built here)")
    parser.add_argument("--fixtures", default=os.path.join(ROOT, "build", "native", "tdump",
                                                           "fixtures"))
    parser.add_argument("--fuzzed", type=int, default=4000, help="mutated inputs (4000)")
    parser.add_argument("--old-commit", default="945ab60",
                        help="the commit --old was built from (945ab60)")
    parser.add_argument("--new-commit",
                        help="the commit --new was built from (default: the work tree)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--show", type=int, default=30, help="differences shown in full (30)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="compare-listings-") as work:
        old_hasher, old_build = build_hasher(checkout(args.old_commit, work, "old"), work,
                                             "old_hashes")
        new_source = checkout(args.new_commit, work, "new") if args.new_commit else ROOT
        new_hasher, new_build = build_hasher(new_source, work, "new_hashes")

        seeds = write_seeds(new_source, work)
        fixtures = sorted(os.path.join(args.fixtures, name) for name in os.listdir(args.fixtures)
                          if os.path.isfile(os.path.join(args.fixtures, name)))
        dlls = [os.path.join(WINE_DLLS, dll) for dll in DLLS
                if os.path.isfile(os.path.join(WINE_DLLS, dll))]
        fuzzed = fuzzed_inputs(seeds, args.fuzzed, work)
        inputs = fixtures + seeds + dlls + fuzzed
        switch_sets = [[]] + catalogue_switches() + LONGER_FORMS
        print(f"inputs: {len(fixtures)} fixtures, {len(seeds)} seeds, {len(dlls)} DLLs, "
              f"{len(fuzzed)} fuzzed; {len(switch_sets)} switch sets", flush=True)

        counts = {"same": 0, "reports": 0, "bound": 0, "differs": 0}
        shown = 0

        def judge(path, switches):
            old, new = run(old_tdump, switches, path), run(new_tdump, switches, path)
            verdict = classify(old, new)
            return verdict, first_difference(old, new) if verdict == "differs" else ""

        def count(path, switches, verdict, detail):
            nonlocal shown
            counts[verdict] += 1
            if verdict == "differs" and shown < args.show:
                shown += 1
                print(f"DIFFERS: tdump {' '.join(switches)} {path}\n    {detail}", flush=True)

        if old_build.wait() != 0 or new_build.wait() != 0:
            sys.exit("compare-listings: building tools/listing_hashes.cpp failed")
        old_tdump = [args.old] if args.old else [old_hasher, "--print"]
        new_tdump = [args.new] if args.new else [new_hasher, "--print"]
        batch = [(path, switches) for path in inputs for switches in switch_sets]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            old_hashes, new_hashes = pool.map(
                lambda side: hashes(side[0], batch, work, side[1]),
                [(old_hasher, "old"), (new_hasher, "new")])
        for (path, switches), old_hash, new_hash in zip(batch, old_hashes, new_hashes):
            old_status, old_size, _, old_without = old_hash.split()
            new_status, new_size, _, new_without = new_hash.split()
            if old_hash == new_hash:
                count(path, switches, "same", "")
            elif (old_status == new_status and old_without == new_without and
                  int(new_size) > int(old_size)):
                count(path, switches, "reports", "")
            else:
                count(path, switches, *judge(path, switches))
        jobs = batch

    print(f"compared {len(inputs)} files x {len(switch_sets)} switch sets = {len(jobs)} listings")
    print(f"  identical:                         {counts['same']}")
    print(f"  differing only by added ** reports: {counts['reports']}")
    print(f"  differing only where the bound cut: {counts['bound']}")
    print(f"  differing otherwise:                {counts['differs']}")
    return 1 if counts["differs"] else 0


if __name__ == "__main__":
    sys.exit(main())
