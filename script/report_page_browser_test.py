#!/usr/bin/env python3
"""The report page in a real browser: pages from a run, a damaged verify, a run by a profile and
(where the MPI program is built) a run of several ranks are opened in headless Chromium. Each must load without a console
message (a blocked fetch, a script error) and its charts must hold the report's samples, counted in
the DOM the browser built. A screenshot of each is kept in the screenshots folder.

usage: report_page_browser_test.py <quillet> <quillet-mpi or -> <screenshots folder>"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

quillet, shots = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[3])
quillet_mpi = os.path.abspath(sys.argv[2]) if sys.argv[2] != "-" else "-"
browser = shutil.which("chromium") or shutil.which("chromium-browser")
if browser is None:
    print("chromium is not installed (./setup all installs it)")
    sys.exit(77)
os.makedirs(shots, exist_ok=True)
work = tempfile.mkdtemp(prefix="quillet-page-")
# The program's log goes beside its copy, not into the build folder.
program = os.path.join(work, "quillet")
shutil.copy(quillet, program)
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
failures = []


def run(args, expect):
    p = subprocess.run(args, env=env, capture_output=True, text=True, timeout=300)
    if p.returncode != expect:
        sys.exit(f"{args} ended with {p.returncode}, {expect} expected:\n{p.stdout}\n{p.stderr}")
    return p


def browse(page, *extra):
    return subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                           "--user-data-dir=" + os.path.join(work, "profile"), "--enable-logging=stderr", "--v=0",
                           *extra, "file://" + page], capture_output=True, text=True, timeout=120)


def console_messages(stderr):
    return [l for l in stderr.splitlines() if ":CONSOLE" in l]


def check(name, report_file, page):
    report = json.load(open(report_file))
    shown = browse(page, "--dump-dom")
    dom = shown.stdout
    messages = console_messages(shown.stderr)
    if messages:
        failures.append(f"{name}: console messages: {messages}")
    if "</svg>" not in dom:
        failures.append(f"{name}: the browser built no chart")
    samples = len(report["series"]["samples"])
    charts = re.findall(r'<svg id="([a-z-]+)"[^>]*class="chart".*?</svg>', dom, re.S)
    for chart in re.finditer(r'<svg id="([a-z-]+)"[^>]*class="chart"(.*?)</svg>', dom, re.S):
        for line in re.finditer(r'<polyline[^>]*points="([^"]*)"', chart.group(2)):
            points = len(line.group(1).split())
            if points != samples:
                failures.append(f"{name}: chart {chart.group(1)} has {points} points, the report {samples} samples")
    if "rate-time" not in charts:
        failures.append(f"{name}: no rate chart")
    shot = browse(page, "--screenshot=" + os.path.join(shots, name + ".png"), "--window-size=900,2200",
                  "--hide-scrollbars")
    if shot.returncode != 0 or not os.path.getsize(os.path.join(shots, name + ".png")):
        failures.append(f"{name}: no screenshot")
    return dom, report


def paths(name):
    return os.path.join(work, name + ".json"), os.path.join(work, name + ".html")


# A run of several writers.
rj, rh = paths("run")
run([program, "/s", f"/root:'{work}/run'", "/allsize:40m", "/minsize:20k", "/maxsize:400k", "/threads:2",
     f"/report:'{rj}'", f"/html:'{rh}'"], 0)
dom, _ = check("run", rj, rh)
if 'id="shares-time"' not in dom:
    failures.append("run: no chart of the writers")

# A verify of a damaged tree.
vj, vh = paths("verify")
run([program, "/f", f"/root:'{work}/tree'", "/minfiles:6", "/maxfiles:6", "/minsize:100k", "/maxsize:2m", "/seed:4"], 0)
files = sorted(os.path.join(work, "tree", f) for f in os.listdir(os.path.join(work, "tree")))
with open(files[0], "r+b") as f:
    f.seek(4096)
    f.write(b"\0" * 8192)
with open(files[1], "r+b") as f:
    f.seek(100)
    f.write(b"\x55")
run([program, "/v", f"/root:'{work}/tree'", "/seed:4", f"/report:'{vj}'", f"/html:'{vh}'"], 4)
dom, report = check("verify", vj, vh)
ranges = sum(len(f["ranges"]) for f in report["verify"]["damaged_files"])
drawn = len(re.findall(r'<rect class="range"', dom))
if drawn != ranges or ranges == 0:
    failures.append(f"verify: {drawn} damaged ranges drawn, the report has {ranges}")

# A tree drawn from a profile: its size classes, target beside achieved.
pj, ph = paths("profile")
run([program, "/f", f"/root:'{work}/profile'", "/minfiles:0", "/maxfiles:40", "/recurse", "/profile:'desktop'",
     "/dirlimit:60", "/maxsize:2m", "/seed:3", f"/report:'{pj}'", f"/html:'{ph}'"], 0)
dom, report = check("profile", pj, ph)
bins = len(report["population"]["file_sizes"]["bins"])
for kind in ("target", "achieved"):
    drawn = len(re.findall(f'<rect class="{kind}"', dom))
    if drawn != bins or bins == 0:
        failures.append(f"profile: {drawn} {kind} bars drawn, the report has {bins} size classes")

# Several ranks.
if quillet_mpi != "-" and os.path.exists(quillet_mpi) and shutil.which("mpirun"):
    mj, mh = paths("mpi")
    # As the MPI suite runs it: Open MPI's plugins stay loaded, and under AddressSanitizer the full
    # unwinder reaches the library frames testing/lsan_suppressions.txt names.
    asan = env.get("ASAN_OPTIONS", "")
    mpi_env = dict(env, OMPI_MCA_mca_base_component_disable_dlclose="1",
                   ASAN_OPTIONS=(asan + ":" if asan else "") + "fast_unwind_on_malloc=0")
    p = subprocess.run(["mpirun", "--oversubscribe", "--allow-run-as-root", "-np", "3", quillet_mpi, "/s",
                        f"/root:'{work}/mpi'", "/allsize:30m", "/minsize:50k", "/maxsize:500k",
                        f"/report:'{mj}'", f"/html:'{mh}'"], env=mpi_env, capture_output=True, text=True, timeout=300,
                       cwd=work)
    if p.returncode != 0:
        sys.exit(f"quillet-mpi ended with {p.returncode}:\n{p.stderr}")
    dom, report = check("mpi", mj, mh)
    if 'id="rank-summary"' not in dom or report["ranks"]["per_rank"][0]["host"] not in dom:
        failures.append("mpi: no summary of the ranks' rates, or no host names")
    bars = len(re.findall(r'<rect class="bar" data-rank=', dom))
    if bars != report["ranks"]["count"]:
        failures.append(f"mpi: {bars} rank bars, the report has {report['ranks']['count']} ranks")

# The check itself: a page that fetches from elsewhere must be caught.
bad = os.path.join(work, "bad.html")
with open(rh) as src, open(bad, "w") as out:
    out.write(src.read().replace("</body>", '<img src="http://example.invalid/x.png"></body>'))
if not console_messages(browse(bad, "--dump-dom").stderr):
    failures.append("a page that fetches from elsewhere went unnoticed")

shutil.rmtree(work, ignore_errors=True)
for f in failures:
    print(f)
sys.exit(1 if failures else 0)
