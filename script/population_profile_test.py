#!/usr/bin/env python3
"""/m /saveprofile through the built program. On /usr/share (a real tree; skipped with its reason
when absent) every figure the profile holds but the fit (file, folder and byte counts, the size,
per-folder and depth quantiles and buckets, the extensions and their shares) equals an independent
computation with os.scandir and lstat, the fit's Kolmogorov-Smirnov distance is recomputed from its
parameters, the profile and the report validate against their schemas, and no name or path of the
tree is in the profile; a twin generated from the profile has the tree's file count, sizes and file
depths. Then hostile input: a missing root, a file or a link as the root, a profile
target that is a folder, a FIFO, in a missing folder or on a read-only volume, and rejected lines.
Usage: population_profile_test.py <built quillet> <source dir>"""
import json
import math
import os
import shutil
import stat
import subprocess
import sys
import tempfile

import jsonschema

program, source = sys.argv[1], sys.argv[2]
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


GRID = [0, 1, 5] + list(range(10, 1000, 10)) + [995, 999, 1000]


def quantiles(values):
    v = sorted(values)
    n = len(v)
    return [[k / 1000, v[(1 if k == 0 else (k * n + 999) // 1000) - 1]] for k in GRID] if n else []


def buckets(values):
    counts = {}
    for x in values:
        if x <= 64:
            key = (x, x)
        else:
            high = 128
            while high < x:
                high *= 2
            key = (high // 2 + 1, high)
        counts[key] = counts.get(key, 0) + 1
    return [[lo, hi, c / len(values)] for (lo, hi), c in sorted(counts.items())]


def extension(name):
    dot = name.rfind(".")
    if dot <= 0:
        return ""
    part = name[dot + 1:].lower() if name[dot + 1:].isascii() else None
    if part is None or len(part) > 16 or any(c not in "abcdefghijklmnopqrstuvwxyz0123456789_-" for c in part):
        return None
    return part


def independent(root):
    """The tree's figures as the profile defines them: hidden entries and links left out, only
    regular files counted, the root's own files at depth 0."""
    sizes, file_depths, per_folder, subfolders, folder_depths, names = [], [], [], [], [], set()
    extensions = {}
    pending = [(root, 0)]
    while pending:
        folder, depth = pending.pop()
        files = subs = 0
        with os.scandir(folder) as it:
            entries = list(it)
        for e in entries:
            if e.name.startswith("."):
                continue
            st = os.lstat(e.path)
            if stat.S_ISDIR(st.st_mode):
                subs += 1
                names.add(e.name)
                pending.append((e.path, depth + 1))
                folder_depths.append(depth + 1)
            elif stat.S_ISREG(st.st_mode):
                files += 1
                names.add(e.name)
                sizes.append(st.st_size)
                file_depths.append(depth)
                x = extension(e.name)
                extensions[x] = extensions.get(x, 0) + 1
        per_folder.append(files)
        subfolders.append(subs)
    return sizes, file_depths, per_folder, subfolders, folder_depths, extensions, names


def cdf(d, x):
    if x < 0:
        return 0.0
    f = d["zeroShare"]
    if x > 0:
        body = 1 - d["zeroShare"] - d["tail"]["share"]
        f += body * 0.5 * math.erfc(-(math.log(x) - d["body"]["mu"]) / d["body"]["sigma"] / math.sqrt(2))
        if d["tail"]["share"] > 0 and x >= d["tail"]["start"]:
            f += d["tail"]["share"] * (1 - (d["tail"]["start"] / x) ** d["tail"]["alpha"])
    return min(1.0, f)


def ks(d, sizes):
    v = sorted(sizes)
    n, worst, i = len(v), 0.0, 0
    while i < n:
        j = i
        while j < n and v[j] == v[i]:
            j += 1
        lo = 0.0 if v[i] == 0 else cdf(d, v[i] - 0.5)
        at = d["zeroShare"] if v[i] == 0 else cdf(d, v[i] + 0.5)
        worst = max(worst, abs(i / n - lo), abs(j / n - at))
        i = j
    return worst


def near(a, b, tolerance=1e-9):
    return abs(a - b) <= tolerance * max(1.0, abs(b))


def validate(document, schema_name):
    schema = json.load(open(os.path.join(source, "docs", schema_name)))
    try:
        jsonschema.validate(document, schema, cls=jsonschema.Draft202012Validator)
    except jsonschema.ValidationError as e:
        failures.append(f"{schema_name}: {e.message} at {list(e.absolute_path)}")


work = tempfile.mkdtemp(prefix="quillet-profile-")
# A copy of its own: the program logs beside itself, and the log is read below.
shutil.copy(program, os.path.join(work, "quillet"))
quillet = os.path.join(work, "quillet")


def run(*args):
    return subprocess.run([quillet, *args], capture_output=True, text=True, timeout=600)


def log():
    path = os.path.join(work, "scripts.log")
    return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


try:
    root = "/usr/share"
    if not os.path.isdir(root) or os.path.islink(root):
        print(f"skipped the real tree: {root} is not a folder here")
    else:
        profile_path, report_path = os.path.join(work, "share.json"), os.path.join(work, "report.json")
        r = run("/m", f"/root:'{root}'", f"/saveprofile:'{profile_path}'", f"/report:'{report_path}'")
        check(r.returncode == 0, f"/usr/share: exit {r.returncode}: {r.stdout} {r.stderr}")
        check(f"Profile written to '{profile_path}'." in r.stdout, f"no 'written' line: {r.stdout}")
        text = open(profile_path, encoding="utf-8").read()
        p = json.loads(text)
        validate(p, "quillet-profile.schema.json")
        report = json.load(open(report_path))
        validate(report, "report.schema.json")
        check(report["mode"] == "measure" and report["measure"] is None, "report: mode or measure")
        saved = report.get("saved_profile") or {}
        check(saved.get("written") is True and saved.get("profile_file") == profile_path, f"report: {saved}")

        sizes, file_depths, per_folder, subfolders, folder_depths, extensions, names = independent(root)
        check(p["files"] == len(sizes), f"files {p['files']} != {len(sizes)}")
        check(p["folders"] == len(per_folder), f"folders {p['folders']} != {len(per_folder)}")
        check(p["bytes"] == sum(sizes), f"bytes {p['bytes']} != {sum(sizes)}")
        check(saved.get("files_profiled") == len(sizes), "report: files_profiled")
        fs = p["fileSizes"]
        check(fs["quantiles"] == quantiles(sizes), "size quantiles differ")
        check(fs["count"] == len(sizes) and near(fs["mean"], sum(sizes) / len(sizes)), "size count or mean")
        check(near(fs["zeroShare"], sizes.count(0) / len(sizes)), "zero share")
        for key, values in (("filesPerFolder", per_folder), ("subfoldersPerFolder", subfolders),
                            ("fileDepth", file_depths), ("folderDepth", folder_depths)):
            d = p[key]
            check(d["quantiles"] == quantiles(values), f"{key}: quantiles differ")
            check(len(d["buckets"]) == len(buckets(values)) and all(
                a[0] == b[0] and a[1] == b[1] and near(a[2], b[2]) for a, b in zip(d["buckets"], buckets(values))),
                f"{key}: buckets differ")
            check(d["count"] == len(values) and near(d["mean"], sum(values) / len(values)), f"{key}: count or mean")
        listed = sorted(((n, x) for x, n in extensions.items() if x is not None), key=lambda t: (-t[0], t[1]))[:20]
        check([e["extension"] for e in p["extensions"]] == [x for _, x in listed],
              f"extensions {[e['extension'] for e in p['extensions']]} != {[x for _, x in listed]}")
        for e, (n, _) in zip(p["extensions"], listed):
            check(e["files"] == n and near(e["share"], n / len(sizes)), f"extension {e['extension']}: share")
        check(near(p["otherExtensionsShare"], 1 - sum(n for n, _ in listed) / len(sizes), 1e-9), "other share")
        distance = ks(fs, sizes)
        check(near(saved.get("size_fit_ks_distance", -1), distance, 1e-6),
              f"fit distance {saved.get('size_fit_ks_distance')} != {distance}")
        print(f"/usr/share: {len(sizes)} files, {len(per_folder)} folders, {sum(sizes)} bytes; "
              f"median {quantiles(sizes)[52][1]} bytes; tail share {fs['tail']['share']:.4f}; KS {distance:.4f}")

        # Nothing of the tree: the only texts are the profile's own and the extensions; neither the
        # root nor any longer name appears anywhere in the file.
        texts = set()

        keys = set()

        def strings(v):
            if isinstance(v, str):
                texts.add(v)
            elif isinstance(v, list):
                for x in v:
                    strings(x)
            elif isinstance(v, dict):
                keys.update(v)
                for x in v.values():
                    strings(x)
        strings(p)
        allowed = {"quillet-profile/1", p["name"], p.get("source", "")} | {e["extension"] for e in p["extensions"]}
        check(texts <= allowed, f"texts in the profile beyond its own: {texts - allowed}")
        check(root not in text, "the root's path is in the profile")
        # (The schema's own keys are words a tree may also use as names: "extensions".)
        leaked = [n for n in names if len(n) >= 8 and not n.isdigit() and n not in keys and n in text]
        check(not leaked, f"names of the tree in the profile: {leaked[:5]}")

        # Round trip: the tree's twin, generated from its profile (allocation only, so a small tmpfs
        # holds it), measured by the same independent walk: its sizes follow the real tree's.
        twin_volume = os.path.join(work, "twin")
        os.makedirs(twin_volume)
        # Room for the tree's bytes and a margin: the draws above the grid's 99.9th percentile are
        # shaped so that the twin's mean size is the tree's, so its total is the tree's too.
        room = int(sum(sizes) * 1.3) + len(sizes) * 8192 + (64 << 20)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={room}", "tmpfs",
                                                 twin_volume]).returncode != 0:
            print("skipped the round trip: mounting a tmpfs needs root")
        else:
            try:
                twin = os.path.join(twin_volume, "t")
                r = run("/f", f"/root:'{twin}'", "/minfiles:0", "/recurse", f"/profile:'{profile_path}'",
                        "/seed:5", "/nofill", "/progress:off")
                check(r.returncode == 0, f"twin: exit {r.returncode}: {r.stdout} {r.stderr}")
                twin_sizes, twin_depths, twin_per_folder, _, _, _, _ = independent(twin)
                # The folders' counts are the strata of the tree's own distribution, its one huge
                # folder included, so the file count is the tree's within a few files per thousand.
                check(abs(len(twin_sizes) - len(sizes)) <= 0.05 * len(sizes),
                      f"twin: {len(twin_sizes)} files against {len(sizes)}")
                check(len(twin_per_folder) == len(per_folder), f"twin: {len(twin_per_folder)} folders against {len(per_folder)}")
                check(max(twin_per_folder) == max(per_folder), f"twin: most files in a folder {max(twin_per_folder)} "
                      f"against {max(per_folder)}")
                a, b = sorted(sizes), sorted(twin_sizes)
                for share in (0.5, 0.9, 0.99):
                    x, y = a[int(share * (len(a) - 1))], b[int(share * (len(b) - 1))]
                    check(abs(y - x) <= 0.05 * x, f"twin: size at {share}: {y} against {x}")
                p99 = (a[int(0.99 * (len(a) - 1))], b[int(0.99 * (len(b) - 1))])
                # The counts are dealt out by the profile's file depths: at every depth the share of
                # files at or above it is the tree's within 0.05.
                depth_gap = max(abs(sum(d <= k for d in file_depths) / len(file_depths) -
                                    sum(d <= k for d in twin_depths) / max(1, len(twin_depths)))
                                for k in range(max(file_depths) + 1))
                check(depth_gap < 0.05, f"twin: file depths {depth_gap:.3f} off the tree's")
                # Two-sample Kolmogorov-Smirnov distance over every size either tree holds.
                distance, i, j = 0.0, 0, 0
                for v in sorted(set(a) | set(b)):
                    while i < len(a) and a[i] <= v:
                        i += 1
                    while j < len(b) and b[j] <= v:
                        j += 1
                    distance = max(distance, abs(i / len(a) - j / len(b)))
                check(distance < 0.02, f"twin: size distance {distance:.4f}")
                check(abs(sum(b) - sum(a)) <= 0.05 * sum(a), f"twin: {sum(b)} bytes against {sum(a)}")
                print(f"twin of {root}: {len(twin_sizes)} files (the tree {len(sizes)}), {len(twin_per_folder)} folders, "
                      f"size distance {distance:.4f}, {sum(b)} bytes (the tree {sum(a)}), "
                      f"99th percentile {p99[1]} (the tree {p99[0]}), "
                      f"file depths {depth_gap:.3f} off")
            finally:
                subprocess.run(["umount", "-l", twin_volume])

    # Hostile input. A small tree to profile, and targets that must be refused.
    tree = os.path.join(work, "tree")
    os.makedirs(os.path.join(tree, "sub"))
    open(os.path.join(tree, "a.txt"), "w").write("x" * 1000)
    os.symlink(tree, os.path.join(work, "link"))
    os.mkfifo(os.path.join(work, "fifo"))
    cases = [
        ("missing root", [f"/root:'{work}/none'", f"/saveprofile:'{work}/p1.json'"], "the root cannot be read", f"{work}/p1.json"),
        ("root is a file", [f"/root:'{tree}/a.txt'", f"/saveprofile:'{work}/p2.json'"], "the root cannot be read", f"{work}/p2.json"),
        ("root is a link", [f"/root:'{work}/link'", f"/saveprofile:'{work}/p3.json'"], "is a link", f"{work}/p3.json"),
        ("target a folder", [f"/root:'{tree}'", f"/saveprofile:'{tree}/sub'"], "it is a folder", None),
        ("target a FIFO", [f"/root:'{tree}'", f"/saveprofile:'{work}/fifo'"], "it is not a regular file", None),
        ("target's folder missing", [f"/root:'{tree}'", f"/saveprofile:'{work}/none/p.json'"], "its folder does not exist", None),
    ]
    if os.geteuid() == 0:
        ro = os.path.join(work, "ro")
        os.makedirs(ro)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", ro]).returncode == 0:
            cases.append(("read-only volume", [f"/root:'{tree}'", f"/saveprofile:'{ro}/p.json'"], "Can not write profile", None))
    for what, args, expected, absent in cases:
        r = run("/m", *args)
        check(r.returncode == 8, f"{what}: exit {r.returncode}, 8 expected: {r.stderr}")
        check(expected in r.stderr and expected in log(), f"{what}: '{expected}' not said: {r.stderr}")
        if absent:
            check(not os.path.exists(absent), f"{what}: a profile was written")
    check(stat.S_ISFIFO(os.lstat(os.path.join(work, "fifo")).st_mode), "the FIFO was replaced")
    if os.path.ismount(os.path.join(work, "ro")):
        subprocess.run(["umount", os.path.join(work, "ro")])

    # A profile replaces an earlier one whole; rejected lines are logged and end with 0.
    target = os.path.join(work, "again.json")
    open(target, "w").write("old")
    r = run("/m", f"/root:'{tree}'", f"/saveprofile:'{target}'")
    p = json.load(open(target))
    check(r.returncode == 0 and p["files"] == 1 and p["folders"] == 2 and p["bytes"] == 1000, f"small tree: {p}")
    check(p["extensions"] == [{"extension": "txt", "share": 1.0, "compressionRatio": p["extensions"][0].get("compressionRatio"),
                               "files": 1}] and p["extensions"][0].get("compressionRatio", 0) > 5, f"extensions: {p['extensions']}")
    for args, line in ((["/saveprofile:x.json"], "Invalid script. Saveprofile parameter must be in ' symbols."),
                       (["/saveprofile:''"], "Invalid script. Profile file can't be empty."),
                       ([f"/saveprofile:'{work}/a'", f"/SaveProfile:'{work}/b'"], "Invalid script. Repitition /saveprofile parameter.")):
        r = run("/m", f"/root:'{tree}'", *args)
        check(r.returncode == 0 and line in log(), f"{args}: exit {r.returncode}, '{line}' not logged")
finally:
    if os.path.ismount(os.path.join(work, "ro")):
        subprocess.run(["umount", "-l", os.path.join(work, "ro")])
    shutil.rmtree(work, ignore_errors=True)

for failure in failures:
    print("FAIL:", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
