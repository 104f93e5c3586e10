"""What the DWARF reference tests share: their command line, the fixtures
and the two readings of each, tdump's and llvm-dwarfdump's. The tests
compare values (tags, names, lines, addresses), never layout."""
import argparse
import os
import subprocess

# The probe built by each compiler, as an object and as a DLL.
FIXTURES = [
    "dwarf5.o", "dwarf5.dll",
    "dwarf4.o", "dwarf4.dll",
    "dwarf2_32.o", "dwarf2_32.dll",
    "dwarf5_clang.o", "dwarf5_clang.dll",
]


# A large real input: Wine's shell32.dll, with megabytes of GCC's DWARF 4.
WINE_DLL = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll"


def arguments(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--tdump", required=True)
    parser.add_argument("--dwarfdump", required=True)
    parser.add_argument("--fixtures", required=True)
    return parser.parse_args()


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True,
                          errors="replace").stdout


def fixture_paths(a):
    return [os.path.join(a.fixtures, name) for name in FIXTURES]


def fixture_and_wine_paths(a):
    """The fixtures, then Wine's DLL when Wine is installed."""
    return fixture_paths(a) + ([WINE_DLL] if os.path.exists(WINE_DLL) else [])


def tdump(a, path, *switches):
    return run(a.tdump, *switches, path)


def dwarfdump(a, path, *switches):
    return run(a.dwarfdump, *switches, path)


def report(failures):
    """Prints what differs; the exit status for the test."""
    for failure in failures:
        print(failure)
    print("FAILED" if failures else "OK")
    return 1 if failures else 0
