#!/usr/bin/env python3
"""The layer check passes this tree and fails a scratch tree with an include that goes up
and one that goes sideways, naming file and line of each.
    check_layers_test.py SOURCE_DIR"""
import pathlib
import subprocess
import sys
import tempfile

source = pathlib.Path(sys.argv[1])
check = [sys.executable, str(source / "scripts" / "check-layers")]


def run(root):
    done = subprocess.run(check + [str(root)], capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout


failures = []
status, output = run(source)
if status != 0 or output:
    failures.append(f"this tree: status {status}, expected 0 and no output:\n{output}")

with tempfile.TemporaryDirectory() as scratch:
    root = pathlib.Path(scratch)
    files = {
        # an include of a lower layer and of its own folder are fine; line 3 goes up
        "protocol/block_send.cpp": '#include "protocol/packet.h"\n#include "engine/engine.h"\n'
        '#include "operations/operation_table.h"\n',
        # protocol/ and results/ stand side by side
        "results/excel.cpp": '#include <cstdio>\n#include "protocol/file_choice.h"\n',
        "sim/tester.cpp": '#include "window/main_window_model.h"\n',
    }
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    status, output = run(root)
    reported = sorted(line.split(": ", 1)[0] for line in output.splitlines())
    expected = ["protocol/block_send.cpp:3", "results/excel.cpp:2"]
    if status != 1 or reported != expected:
        failures.append(f"scratch tree: status {status}, reported {reported}, "
                        f"expected 1 and {expected}:\n{output}")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
