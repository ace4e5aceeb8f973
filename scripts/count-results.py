#!/usr/bin/env python3
"""Prints "passed failed" for one build: gtest cases from the XML files in
RESULTS_DIR, plus one case for each other ctest test (a script) by its
outcome; a gtest suite that died without its XML counts as one failure.
Skipped cases (GTEST_SKIP, a script's skip code, a test ctest did not run)
are counted apart and named on stderr, so that they are seen and never
taken for passes."""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET

results_dir, ctest_log = sys.argv[1], sys.argv[2]
passed = failed = 0
skipped = []
reported = set()
for path in glob.glob(os.path.join(results_dir, "*.xml")):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        continue
    reported.add(os.path.splitext(os.path.basename(path))[0])
    for case in root.iter("testcase"):
        name = "%s.%s" % (case.get("classname", "?"), case.get("name", "?"))
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif (case.get("status") == "notrun" or case.get("result") == "skipped"
              or case.find("skipped") is not None):
            skipped.append(name)
        else:
            passed += 1
try:
    log = open(ctest_log, encoding="utf-8", errors="replace").read()
except OSError:
    log = ""
# ctest tests without XML (scripts, peer fixtures) count as one case each.
for name, outcome in re.findall(
        r"Test\s+#\d+:\s+(\S+)\s+\.+\**\s*(?:\*\*\*)?(Passed|Failed|Exception|Timeout|Not Run|Skipped)", log):
    if name in reported or name.startswith("peers_"):
        continue
    if outcome == "Passed":
        passed += 1
    elif outcome == "Skipped":
        skipped.append(name)
    else:
        failed += 1
if skipped:
    print("   %d skipped: %s" % (len(skipped), ", ".join(skipped)), file=sys.stderr)
print(passed, failed)
