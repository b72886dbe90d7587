#!/usr/bin/env python3
"""Every CTest test of a build tree has a TIMEOUT (cmake/test_timeouts.cmake).

usage: check_timeouts.py <ctest> <build dir>
Lists the build's tests with `ctest --show-only=json-v1` and fails, naming
them, when any test has no TIMEOUT property or a limit of 0 (none).
Prints "N passed, M failed" over the tests it looked at.
"""
import json
import subprocess
import sys


def main():
    ctest, build = sys.argv[1], sys.argv[2]
    listing = subprocess.run([ctest, "--test-dir", build,
                              "--show-only=json-v1"],
                             capture_output=True, text=True, check=True)
    tests = json.loads(listing.stdout)["tests"]
    missing = []
    for test in tests:
        properties = {p["name"]: p["value"]
                      for p in test.get("properties", [])}
        if not float(properties.get("TIMEOUT", 0)) > 0:
            missing.append(test["name"])
    for name in missing:
        print(f"no TIMEOUT: {name}")
    print(f"{len(tests) - len(missing)} passed, {len(missing)} failed")
    return 1 if missing or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
