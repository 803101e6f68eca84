#!/usr/bin/env python3
"""The manual page against README: every script key, environment variable and exit code README
documents is named in the page, the page's exit codes are README's, and groff reads the page without
a warning. Usage: manual_page_test.py <README.md> <built quillet.1>"""
import re
import subprocess
import sys

readme_path, page_path = sys.argv[1], sys.argv[2]
readme = open(readme_path, encoding="utf-8").read()
source = open(page_path, encoding="utf-8").read()
# The page's words with roff's font changes and escaped hyphens taken out.
page = re.sub(r"\\f[BIRP]", "", source).replace("\\-", "-")
failures = []

# Keys are the slash words inside README's code spans (`/probe /device:'...'`), not paths such as
# `/dev/full` or `/usr/share`.
readme_keys = set()
for span in re.findall(r"`([^`\n]+)`", readme):
    readme_keys.update(re.findall(r"(?<![\w/.'\\$~-])(/[A-Za-z]+|/\?)(?=[:\s]|$)", span))
readme_keys -= {"/key"}
for key in sorted(readme_keys):
    if not re.search(re.escape(key) + r"(?![A-Za-z])", page):
        failures.append(f"key {key} is in README but not in the manual page")

# The program's own variables; those read only by the test suite, the bench or CMake are not the
# program's to document.
for name in sorted(set(re.findall(r"\b(QUILLET_[A-Z_]+|XDG_[A-Z_]+_HOME)\b", readme))):
    if re.match(r"QUILLET_(BUILD|PROPERTY|TEST)_", name):
        continue
    if name not in page:
        failures.append(f"environment variable {name} is in README but not in the manual page")

exit_section = readme.split("## Exit codes", 1)[1].split("\n## ", 1)[0]
readme_codes = set(re.findall(r"^\| (\d+) \|", exit_section, re.M))
page_section = source.split(".SH EXIT STATUS", 1)[1].split(".SH ", 1)[0]
page_codes = set(re.findall(r"^\.B (\d+)$", page_section, re.M))
if not readme_codes:
    failures.append("README's exit code table was not found")
if readme_codes != page_codes:
    failures.append(f"exit codes differ: README {sorted(readme_codes)}, manual page {sorted(page_codes)}")

if "@" in source:
    failures.append("the manual page still holds an unreplaced @...@ placeholder")
groff = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", page_path], capture_output=True, text=True)
if groff.returncode != 0 or groff.stderr.strip():
    failures.append(f"groff warns: {groff.stderr.strip()} (exit {groff.returncode})")

for failure in failures:
    print(failure)
print(f"{len(readme_keys)} keys checked; {len(failures)} failures")
sys.exit(1 if failures else 0)
