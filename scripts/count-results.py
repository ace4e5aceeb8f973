#!/usr/bin/env python3
"""Prints "passed failed" for one build: gtest cases from the XML files in
RESULTS_DIR, plus one failure for each failed ctest test that left no XML."""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET

results_dir, ctest_log = sys.argv[1], sys.argv[2]
passed = failed = 0
reported = set()
for path in glob.glob(os.path.join(results_dir, "*.xml")):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        continue
    reported.add(os.path.splitext(os.path.basename(path))[0])
    for case in root.iter("testcase"):
        if case.get("status") == "notrun" or case.get("result") == "skipped":
            continue
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        else:
            passed += 1
try:
    log = open(ctest_log, encoding="utf-8", errors="replace").read()
except OSError:
    log = ""
for name in re.findall(r"Test\s+#\d+:\s+(\S+)\s+\.+\**\s*(?:\*\*\*)?(?:Failed|Exception|Timeout|Not Run)", log):
    if name not in reported:
        failed += 1
print(passed, failed)
