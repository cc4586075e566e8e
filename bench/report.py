#!/usr/bin/env python3
"""Turns the benchmark programs' JSON output (the files given, or standard
input) into the tables of the README: each library call as a ratio of its
time per iteration to its reference, and each figure against its goal."""
import json
import sys
from collections import namedtuple

PAIRS = [
    ("crc16, 1 MiB", "BM_crc16", "BM_crc16_boost", "Boost.CRC crc_optimal"),
    ("curve to bytes, 100 000 points", "BM_curve_toBuffer", "BM_curve_memcpy", "memcpy of the bytes"),
    ("curve from bytes, 100 000 points", "BM_curve_fromBuffer", "BM_curve_memcpy", "memcpy of the bytes"),
    ("AnalysisResult copy", "BM_result_copy", "BM_shareddatapointer_copy", "QSharedDataPointer copy"),
    ("AnalysisResult default construction", "BM_result_default", "BM_shareddatapointer_copy",
     "QSharedDataPointer copy"),
    ("AnalysisResult move, twice", "BM_result_move", "BM_shareddatapointer_move",
     "QSharedDataPointer move, twice"),
    ("toString with marks", "BM_result_toString", "BM_number_toString", "QString::number"),
    ("foregroundRole", "BM_result_foregroundRole", "BM_color_copy", "QColor copy"),
    ("foregroundRole", "BM_result_foregroundRole", "BM_brush_variant_copy",
     "QVariant of a QBrush, copied"),
    ("fromString with marks", "BM_result_fromString", "BM_result_toString",
     "toString of the same result"),
    ("Profile::value, 2 threads", "BM_profile_value/real_time/threads:2",
     "BM_qhash_value/real_time/threads:2", "QHash lookup"),
    ("setValue, persisted", "BM_profile_setValue", "BM_sqlite_insert", "prepared sqlite3 insert"),
    ("pragma data_version, the store's check", "BM_profile_dataVersion", "BM_qhash_value",
     "QHash lookup"),
    ("Serial write, 1 KiB", "BM_serial_write", "BM_raw_write", "write(2) on the same pty"),
    ("Serial read, 1 KiB", "BM_serial_read", "BM_raw_read", "read(2) on the same pty"),
]

# Figures of a site that has run for years, and of the serial frames, each
# held against a goal: a largest ratio of its time to its reference's, or a
# largest value in ms of one of its counters.
Ratio = namedtuple("Ratio", "figure benchmark reference reference_label goal")
Milliseconds = namedtuple("Milliseconds", "figure benchmark counter goal")
FLOOD = "BM_profile_workerFlood/iterations:10/manual_time"
STORE_LOAD = "BM_curve_storeLoad/{}/iterations:200/real_time"
FIGURE_GOALS = [
    Ratio("10 000 setValue from a worker thread, until sync() confirms the table", FLOOD,
          "BM_sqlite_floodReference/iterations:10/real_time",
          "one prepared sqlite3 transaction of the same rows", 2.0),
    Milliseconds("longest stall of the owning thread's event loop during that flood (worst "
                 "lateness of a 1 ms timer)", FLOOD, "stall_worst_ms", 50.0),
    Ratio("Profile start-up, 10 000 rows in profile", "BM_profile_startup", "BM_sqlite_profileLoad",
          "sqlite3 open and prepared select of the rows into a QHash", 1.5),
    Ratio("ClotCurve::store + load, 1 000 points, 1 000 000 curve rows",
          STORE_LOAD.format(1000000), STORE_LOAD.format(1000), "the same at 1 000 curve rows",
          1.3),
    Ratio("ClotCurve::store + load, 1 000 points, 1 000 000 curve rows",
          STORE_LOAD.format(1000000), "BM_sqlite_curveStoreLoad/1000000/iterations:200/real_time",
          "prepared sqlite3 insert + select of the same blob", 1.5),
    Ratio("nextSampleNo, 2 000 000 patient rows over five years", "BM_nextSampleNo/2000000",
          "BM_nextSampleNo/1000", "the same at 1 000 rows", 1.3),
    Ratio("crc16, 32-byte frame", "BM_crc16_frame", "BM_crc16_frame_boost",
          "Boost.CRC crc_optimal", 0.5),
    Milliseconds("CurvePlot, 1 000 000 points: setCurve and the first picture (processor time)",
                 "BM_curvePlot_show/1000000", "show_ms", 500.0),
    Milliseconds("CurvePlot, 1 000 000 points: the picture drawn again (processor time)",
                 "BM_curvePlot_repaint/1000000", "repaint_ms", 50.0),
]

# Measurements held against a stated figure and a goal rather than a reference
# call: (label, benchmark, reference, median goal, worst goal), in ms.
GOALS = [
    ("serial read time-out", "BM_serial_readTimeout/iterations:50/manual_time",
     "the stated total (constant + n ms)", 2.0, 10.0),
]


def wall_clock(name):
    return "real_time" in name or "manual_time" in name


def readable(time, unit):
    """A time in the largest unit that keeps it at 1 or more."""
    ns = time * {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[unit]
    for name, size in (("s", 1e9), ("ms", 1e6), ("\u00b5s", 1e3)):
        if ns >= size:
            return f"{ns / size:.3g} {name}"
    return f"{ns:.3g} ns"


def print_goal_table(runs, times):
    print("| figure | time | reference | reference time | measured | goal | met |")
    print("|---|---:|---|---:|---:|---|---|")
    for goal in FIGURE_GOALS:
        if isinstance(goal, Milliseconds):
            goal_text = f"\u2264 {goal.goal:g} ms"
            value = runs.get(goal.benchmark, {}).get(goal.counter)
            if value is None:
                print(f"| {goal.figure} | | \u2014 | | n/a | {goal_text} | n/a |")
                continue
            met = "yes" if value <= goal.goal else "no"
            print(f"| {goal.figure} | | \u2014 | | {value:.1f} ms | {goal_text} | {met} |")
            continue
        goal_text = f"\u2264 {goal.goal:g}\u00d7"
        if goal.benchmark not in times or goal.reference not in times:
            print(f"| {goal.figure} | n/a | {goal.reference_label} | n/a | n/a | {goal_text} "
                  f"| n/a |")
            continue
        (t, unit), (r, ref_unit) = times[goal.benchmark], times[goal.reference]
        met = "yes" if t / r <= goal.goal else "no"
        print(f"| {goal.figure} | {readable(t, unit)} | {goal.reference_label} "
              f"| {readable(r, ref_unit)} | {t / r:.2f}\u00d7 | {goal_text} | {met} |")
    # The sqlite3 references open their files with the settings that the
    # library's connections turned out to have.
    labels = sorted({runs[goal.reference]["label"] for goal in FIGURE_GOALS
                     if isinstance(goal, Ratio) and runs.get(goal.reference, {}).get("label")})
    for label in labels:
        print(f"\nsqlite3 references ran with: {label}")
    # Where a stall or a slow flood comes from: the owning thread's writes.
    flood = runs.get(FLOOD)
    if flood and "transactions" in flood:
        print(f"\nflood: {flood['transactions']:.1f} transactions a flood, the largest of "
              f"{flood['largest_batch_rows']:.0f} rows taking {flood['longest_batch_ms']:.1f} ms "
              f"({flood.get('longest_batch_cpu_ms', 0):.1f} ms of the owning thread's processor "
              f"time) from its first row to its commit, the sync to disk after; the worker's "
              f"10 000 setValue calls took {flood['setValue_ms']:.1f} ms "
              f"({flood.get('setValue_cpu_ms', 0):.1f} ms of its processor time)")


def load(files):
    """The runs of every file, with the first file's context."""
    if not files:
        return json.load(sys.stdin)
    data = None
    for name in files:
        with open(name, encoding="utf-8") as f:
            part = json.load(f)
        if data is None:
            data = part
        else:
            data["benchmarks"] += part["benchmarks"]
    return data


def main():
    data = load(sys.argv[1:])
    runs = {b["name"]: b for b in data["benchmarks"]
            if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b}
    # Processor time for single-threaded calls, so that other processes on the
    # machine count less; wall-clock time where several threads run at once
    # or the disk is waited for.
    times = {name: (b["real_time" if wall_clock(name) else "cpu_time"], b["time_unit"])
             for name, b in runs.items()}
    print("| operation | time | reference | reference time | ratio |")
    print("|---|---:|---|---:|---:|")
    for label, name, ref, ref_label in PAIRS:
        if name not in times or ref not in times:
            print(f"| {label} | n/a | {ref_label} | n/a | n/a |")
            continue
        (t, unit), (r, ref_unit) = times[name], times[ref]
        print(f"| {label} | {t:.4g} {unit} | {ref_label} | {r:.4g} {ref_unit} | {t / r:.2f} |")

    # What the store costs an idle application: its checks for other connections' changes.
    idle = runs.get("BM_profile_idle/iterations:1/real_time")
    if idle:
        print(f"\nidle store: {idle['checks_per_second']:.2f} checks a second, "
              f"{idle['statements_per_second']:.2f} statements a second on its connection, "
              f"{idle['cpu_us_per_second']:.0f} \u00b5s of the owning thread's processor time "
              f"a second")

    goals = {b["name"]: b for b in data["benchmarks"] if "overshoot_median_ms" in b}
    print()
    print("| measurement | reference | median overshoot | worst overshoot | goal | met |")
    print("|---|---|---:|---:|---|---|")
    for label, name, ref_label, median_goal, worst_goal in GOALS:
        goal = f"median \u2264 {median_goal:g} ms, worst \u2264 {worst_goal:g} ms"
        if name not in goals:
            print(f"| {label} | {ref_label} | n/a | n/a | {goal} | n/a |")
            continue
        b = goals[name]
        median, worst = b["overshoot_median_ms"], b["overshoot_worst_ms"]
        met = "yes" if median <= median_goal and worst <= worst_goal else "no"
        print(f"| {label}, {b['iterations']} reads of {b['stated_ms']:g} ms | {ref_label} "
              f"| {median:.2f} ms | {worst:.2f} ms | {goal} | {met} |")

    print()
    print_goal_table(runs, times)
    # Other processes share the machine; wall-clock figures depend on them.
    load_average = data.get("context", {}).get("load_avg")
    if load_average:
        print("\nload average when the run started: "
              + ", ".join(f"{x:.2f}" for x in load_average))


if __name__ == "__main__":
    main()
