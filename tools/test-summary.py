#!/usr/bin/env python3
"""Adds up the GoogleTest XML results of every test binary into one line.

Arguments are build folders; each holds test-results/*.xml, and CTest's list
of failed tests, so a binary that crashed or hung before writing its results
still counts as a failure.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for build in sys.argv[1:]:
    reported = set()
    for path in sorted(glob.glob(os.path.join(build, "test-results", "*.xml"))):
        reported.add(os.path.splitext(os.path.basename(path))[0])
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            print(f"unreadable test results: {path}")
            failed += 1
            continue
        for case in root.iter("testcase"):
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            elif case.get("result") == "skipped" or case.find("skipped") is not None:
                skipped += 1
            else:
                passed += 1
    failed_log = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if os.path.exists(failed_log):
        for line in open(failed_log):
            name = line.strip().split(":", 1)[-1]
            if name and name not in reported:
                print(f"{name}: failed without results (crashed or timed out)")
                failed += 1
print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")
sys.exit(1 if failed or passed == 0 else 0)
