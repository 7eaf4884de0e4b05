#!/usr/bin/env python3
"""Adds up the GoogleTest XML results of every test binary into one line."""
import glob
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for folder in sys.argv[1:]:
    for path in sorted(glob.glob(folder + "/*.xml")):
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
print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")
sys.exit(1 if failed or passed == 0 else 0)
