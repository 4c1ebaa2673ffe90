#!/usr/bin/env python3
"""Prints the benchmark figures of one run of scripts/bench.sh as a table.

Reads RESULTS_DIR/decode.json (Google Benchmark), RESULTS_DIR/pack.txt,
RESULTS_DIR/write.txt and RESULTS_DIR/apply.txt (key=value lines, one run
per line), and writes the
table to stdout. Figures only: nothing here passes or fails on a timing.
"""
import json
import os
import statistics
import sys


def load_runs(path):
    """Each line: kind=... key=value ...; returns a list of dicts."""
    runs = []
    if not os.path.exists(path):
        return runs
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = dict(item.split("=", 1) for item in line.split() if "=" in item)
            if fields:
                runs.append(fields)
    return runs


def decode_section(results):
    path = os.path.join(results, "decode.json")
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        name = b["name"].replace("/real_time", "").replace("/iterations:1", "")
        rows[name] = b
    print("Decode: one pass over every file entry, output into one reused buffer")
    print(f"  {'':28} {'MB/s (wall)':>12} {'MB/s (CPU)':>11}")
    cpu_rate = {}
    for name in ("decode/load_entry_into", "decode/zlib_inflate", "decode/memcpy"):
        if name not in rows:
            continue
        b = rows[name]
        wall = b["MB/s"]
        # The counter is per wall second; scale by wall/CPU time for CPU.
        cpu = wall * b["real_time"] / b["cpu_time"] if b["cpu_time"] else 0.0
        cpu_rate[name] = (wall, cpu)
        print(f"  {name:28} {wall:12.0f} {cpu:11.0f}")
    a, z = cpu_rate.get("decode/load_entry_into"), cpu_rate.get("decode/zlib_inflate")
    if a and z:
        print(f"  load_entry_into / zlib: {a[0] / z[0]:.2f}x wall, {a[1] / z[1]:.2f}x CPU")
    print()
    print("Encode: sample of the corpus, one compressor per file, "
          "files that do not shrink count as stored")
    print(f"  {'':22} {'MB/s in':>8} {'size %':>7}")
    for name, b in rows.items():
        if name.startswith("encode/"):
            print(f"  {name:22} {b['MB/s']:8.1f} {b['size_%']:7.2f}")
    print()


def pack_section(results):
    runs = load_runs(os.path.join(results, "pack.txt"))
    if not runs:
        return
    print("Pack: the corpus tree")
    by_kind = {}
    for r in runs:
        by_kind.setdefault(r["kind"], []).append(r)
    for kind, rs in by_kind.items():
        seconds = statistics.median(float(r["seconds"]) for r in rs)
        size = int(rs[-1]["bytes"])
        print(f"  {kind:24} {seconds:8.2f} s {size:14,d} bytes")
    one, all_cores = by_kind.get("krvpack_j1"), by_kind.get("krvpack_all_cores")
    if one and all_cores:
        s1 = statistics.median(float(r["seconds"]) for r in one)
        sn = statistics.median(float(r["seconds"]) for r in all_cores)
        print(f"  krvpack all cores vs one core: {s1 / sn:.2f}x faster "
              f"({os.cpu_count()} cores)")
    pkg = by_kind.get("krvpack_all_cores")
    if pkg and "peak_rss_mb" in pkg[-1]:
        peak = max(float(r["peak_rss_mb"]) for r in pkg)
        print(f"  krvpack peak resident memory (all cores): {peak:.0f} MB")
    for z in ("zip_6", "zip_9"):
        if pkg and z in by_kind:
            print(f"  package size / {z.replace('_', ' -')}: "
                  f"{int(pkg[-1]['bytes']) / int(by_kind[z][-1]['bytes']):.3f}")
    print()


def write_section(results):
    runs = load_runs(os.path.join(results, "write.txt"))
    if not runs:
        return
    print("Filling one new file under Wine, by size: microseconds per file "
          "(best of 3 rounds, methods alternating)")
    methods = ["mapping", "write", "size_then_write"]
    print(f"  {'size':>10} " + " ".join(f"{m:>16}" for m in methods) + "   mapping / write")
    by_size = {}
    for r in runs:
        by_size.setdefault(int(r["size"]), {})[r["method"]] = float(r["us_per_file"])
    for size in sorted(by_size):
        row = by_size[size]
        cells = " ".join(f"{row.get(m, 0):16.1f}" for m in methods)
        ratio = row["mapping"] / row["write"] if row.get("write") else 0
        print(f"  {size:>10} {cells}   {ratio:.2f}x")
    print()


APPLY_KINDS = (
    ("baseline", "mapping baseline"),
    ("baseline_write", "WriteFile baseline"),
    ("baseline_file_steps", "mapping baseline + updater's file steps"),
    ("patch_checksums", "PATCH.EXE, package as krvpack writes it"),
    ("patch", "PATCH.EXE, package without the checksum section"),
    ("patch_unchecked", "PATCH.EXE without its check, package as krvpack writes it"),
    ("patch_quiet", "PATCH.EXE /quiet (no window, to its exit), the same package"),
)


def ratio_lines(medians, private):
    """The headline ratios: PATCH.EXE on the package as krvpack writes it
    (with the checksum section); then on a package without the section, whose
    check inflates every stream once more. Older runs had only the latter."""
    headline = "patch_checksums" if "patch_checksums" in medians else "patch"
    for kind, label in APPLY_KINDS[:2]:
        if kind in medians and headline in medians:
            print(f"  PATCH.EXE / {label}: {medians[headline] / medians[kind]:.2f}x")
    if headline != "patch" and "patch" in medians:
        for kind, label in APPLY_KINDS[:2]:
            if kind in medians:
                print(f"  PATCH.EXE, package without the checksum section / {label}: "
                      f"{medians['patch'] / medians[kind]:.2f}x")
    print("  peak private bytes: " + ", ".join(
        f"{label} {private[kind] / 1e6:.1f} MB" for kind, label in APPLY_KINDS
        if private.get(kind) and kind in ("baseline", "baseline_write", "patch_checksums",
                                          "patch")))


def check_lines(runs, prefix, medians):
    """What the integrity check costs: in a whole run, and alone."""
    if "patch_checksums" in medians and "patch_unchecked" in medians:
        added = medians["patch_checksums"] / medians["patch_unchecked"] - 1
        print(f"  the integrity check in a whole run (package as krvpack writes it; PATCH.EXE "
              f"with it / without it): adds {100 * added:.1f}% to PATCH.EXE's time")
    for check, package, whole in (("check_checksums", "with the checksum section (hashes)",
                                   "patch_checksums"),
                                  ("check_streams", "without it (every stream inflated once)",
                                   "patch")):
        rs = [r for r in runs if r["kind"] == prefix + check and "check_seconds" in r]
        if rs and whole in medians:
            seconds = statistics.median(float(r["check_seconds"]) for r in rs)
            # As if nothing ran beside the check: the run without it shorter
            # by the check's whole time.
            print(f"  integrity check alone, package {package}: median {seconds:.3f} s of "
                  f"{len(rs)}, {100 * seconds / medians[whole]:.1f}% of that PATCH.EXE run, "
                  f"adding {100 * seconds / (medians[whole] - seconds):.1f}% to it")


def apply_corpus_section(runs, memory, prefix, title):
    medians, private = {}, {}
    rows = []
    for kind, label in APPLY_KINDS:
        rs = [r for r in runs if r["kind"] == prefix + kind]
        if not rs:
            continue
        times = [float(r["seconds"]) for r in rs]
        medians[kind] = statistics.median(times)
        # Sampled from Linux (bench/sample_memory.py): Wine's own counters
        # do not follow the process's memory. Runs of their own since the
        # sampler left the timed ones; older results have it in every run.
        sampled = [r for r in memory if r["kind"] == prefix + kind] or rs
        private[kind] = max(int(r.get("peak_private", 0)) for r in sampled)
        peak_rss = max(int(r.get("peak_rss", 0)) for r in sampled)
        # A run shorter than the sampler's first look leaves no figure.
        memory_text = (f"peak private {private[kind] / 1e6:.1f} MB, "
                       f"peak resident {peak_rss / 1e6:.1f} MB" if private[kind]
                       else "memory not sampled (run too short)")
        rows.append(f"  {label:60} median {medians[kind]:7.3f} s of {len(rs)} "
                    f"(runs: {', '.join(f'{t:.3f}' for t in times)}); {memory_text}")
    if not rows:
        return
    print(title)
    for row in rows:
        print(row)
    ratio_lines(medians, private)
    check_lines(runs, prefix, medians)
    if "patch_quiet" in medians and "patch_checksums" in medians:
        print(f"  PATCH.EXE with its window / with /quiet: "
              f"{medians['patch_checksums'] / medians['patch_quiet']:.2f}x")
        if "baseline_write" in medians:
            print(f"  PATCH.EXE /quiet / WriteFile baseline: "
                  f"{medians['patch_quiet'] / medians['baseline_write']:.2f}x")
    if "baseline" in medians and "baseline_file_steps" in medians:
        print(f"  mapping baseline with the updater's backup and folder steps / mapping baseline: "
              f"{medians['baseline_file_steps'] / medians['baseline']:.2f}x")
    print()


def apply_section(results):
    runs = load_runs(os.path.join(results, "apply.txt"))
    if not runs:
        return
    memory = load_runs(os.path.join(results, "memory.txt"))
    what = ("fresh installation folder each run, runs alternating, timed from the start of "
            "the process to PATCH.EXE's OK button (baselines: to their exit)")
    apply_corpus_section(runs, memory, "", f"Apply under Wine, standard corpus: {what}")
    apply_corpus_section(runs, memory, "small_", "Apply under Wine, small-file corpus: the same")


def main():
    results = sys.argv[1]
    decode_section(results)
    pack_section(results)
    write_section(results)
    apply_section(results)


if __name__ == "__main__":
    main()
