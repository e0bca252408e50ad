#!/usr/bin/env python3
"""Adds up every test of a `./run test` and prints the closing line.

CTest says whether each test program passed; the program's own GoogleTest
report says how many cases it held. A program that failed without a report
(a crash, a time-out) still counts as one failure. Script tests leave a
.result file holding "passed" or "failed"."""
import glob
import os
import sys
import xml.etree.ElementTree as ET

results = sys.argv[1]
passed = failed = 0
failures = []

for junit in sorted(glob.glob(os.path.join(results, "ctest-*.xml"))):
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        ok = case.get("status") == "run" and case.find("failure") is None
        report = os.path.join(results, name + ".xml")
        p = f = 0
        if os.path.exists(report):
            try:
                root = ET.parse(report).getroot()
                for tc in root.iter("testcase"):
                    if tc.get("result", "completed") == "skipped" or tc.find("skipped") is not None:
                        continue
                    if tc.find("failure") is not None:
                        f += 1
                        failures.append(f"{name}: {tc.get('classname')}.{tc.get('name')}")
                    else:
                        p += 1
            except ET.ParseError:
                pass
        if not ok and f == 0:
            f = 1
            failures.append(name)
        if ok and p + f == 0:
            p = 1
        passed += p
        failed += f

for res in sorted(glob.glob(os.path.join(results, "script.*.result"))):
    name = os.path.basename(res)[len("script."):-len(".result")]
    if open(res).read().strip() == "passed":
        passed += 1
    else:
        failed += 1
        failures.append(name)

for f in failures:
    print(f"FAILED: {f}")
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed or passed == 0 else 0)
