#!/usr/bin/env python3
"""Turns coagulation-bench's JSON output into the table of the README:
each library call as a ratio of its time per iteration to its reference."""
import json
import sys

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
    ("Serial write, 1 KiB", "BM_serial_write", "BM_raw_write", "write(2) on the same pty"),
    ("Serial read, 1 KiB", "BM_serial_read", "BM_raw_read", "read(2) on the same pty"),
]

# Measurements held against a stated figure and a goal rather than a reference
# call: (label, benchmark, reference, median goal, worst goal), in ms.
GOALS = [
    ("serial read time-out", "BM_serial_readTimeout/iterations:50/manual_time",
     "the stated total (constant + n ms)", 2.0, 10.0),
]


def main():
    data = json.load(sys.stdin)
    # Processor time for single-threaded calls, so that other processes on the
    # machine count less; wall-clock time where several threads run at once.
    times = {b["name"]: (b["real_time" if "real_time" in b["name"] else "cpu_time"], b["time_unit"])
             for b in data["benchmarks"]
             if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b}
    print("| operation | time | reference | reference time | ratio |")
    print("|---|---:|---|---:|---:|")
    for label, name, ref, ref_label in PAIRS:
        if name not in times or ref not in times:
            print(f"| {label} | n/a | {ref_label} | n/a | n/a |")
            continue
        (t, unit), (r, ref_unit) = times[name], times[ref]
        print(f"| {label} | {t:.4g} {unit} | {ref_label} | {r:.4g} {ref_unit} | {t / r:.2f} |")

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


if __name__ == "__main__":
    main()
