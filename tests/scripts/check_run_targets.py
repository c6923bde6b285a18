#!/usr/bin/env python3
"""Checks the targets the run command builds (scripts/build --print-targets) against the configured
build: they must produce the program, the engine's server and the resources, and compile nothing
of the tests or benchmarks. Prints the target list and the number of build steps; builds nothing."""
import subprocess
import sys

source, build = sys.argv[1], sys.argv[2]
targets = subprocess.run([f"{source}/scripts/build", "--print-targets"], check=True,
                         capture_output=True, text=True).stdout.split()
print("run command targets:", " ".join(targets))


def ninja(*args):
    return subprocess.run(["ninja", "-C", build, *args], check=True, capture_output=True, text=True).stdout


steps = [line for line in ninja("-t", "commands", *targets).splitlines() if line.strip()]
every = [line for line in ninja("-t", "commands").splitlines() if line.strip()]
print(f"build steps: {len(steps)} of {len(every)}")

faults = []
for needed in ("bundle/bin/tovrin ", "resources/engine-x86/whisper-server ", "copy_directory"):
    if not any(needed in line + " " for line in steps):
        faults.append(f"nothing builds {needed.strip()}")
for line in steps:
    if any(part in line for part in (f"{source}/tests/", f"{source}/bench/", "-o tests/", "-o bench/")):
        faults.append("builds test or benchmark code: " + line[:200])
        break
for fault in faults:
    print("FAULT:", fault)
sys.exit(1 if faults else 0)
