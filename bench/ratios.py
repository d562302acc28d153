#!/usr/bin/env python3
"""Prints the ratios of bench/run from the JSON files the benchmark programs
wrote into one folder (PROGRAM.json each). A missing program or run is shown
as such instead of a figure."""
import json
import os
import sys


def load(folder):
    times = {}
    for name in os.listdir(folder):
        if not name.endswith(".json"):
            continue
        program = name[:-5]
        try:
            with open(os.path.join(folder, name)) as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        for run in data.get("benchmarks", []):
            if run.get("run_type", "iteration") != "iteration":
                continue
            times[(program, run["name"])] = run
    return times


def main():
    times = load(sys.argv[1])

    def run(program, prefix):
        for (p, name), value in times.items():
            if p == program and name.startswith(prefix):
                return value
        return None

    def ratio(label, program, numerator, denominator, aim=""):
        a, b = run(program, numerator), run(program, denominator)
        if not a or not b or not b["real_time"]:
            print(f"{label:58s} (not measured)")
            return
        value = a["real_time"] / b["real_time"]
        print(f"{label:58s} {value:7.2f}{'   ' + aim if aim else ''}")

    def figure(label, program, name, key, unit, scale=1.0):
        a = run(program, name)
        if not a or key not in a:
            print(f"{label:58s} (not measured)")
            return
        print(f"{label:58s} {a[key] * scale:7.1f} {unit}")

    print("time ratios (1.00 = as fast as the floor it is compared with)")
    ratio("fast NTFS scan / reading the MFT once, warm cache", "fast_ntfs_scan_bench", "BM_FastScan/0",
          "BM_ReadMftOnce/0", "aim: below 2")
    ratio("fast NTFS scan / reading the MFT once, cold", "fast_ntfs_scan_bench", "BM_FastScan/1", "BM_ReadMftOnce/1",
          "aim: below 2")
    ratio("fast FAT scan / reading the directory clusters", "fast_fat_scan_bench", "BM_FastScan",
          "BM_ReadEveryDirectoryClusterOnce")
    ratio("fast FAT scan / directories + first sector of deleted", "fast_fat_scan_bench", "BM_FastScan",
          "BM_ReadDirectoriesAndFirstSectorOfEachDeletedFile")
    ratio("deep scan NTFS engine walk / reading, warm", "professional_ntfs_scan_bench", "BM_Walk/walk:2/cold:0",
          "BM_Walk/walk:0/cold:0")
    ratio("deep scan NTFS engine walk / reading, cold", "professional_ntfs_scan_bench", "BM_Walk/walk:2/cold:1",
          "BM_Walk/walk:0/cold:1")
    ratio("deep scan FAT engine walk / reading", "pro_fat_walk_bench", "BM_Walk", "BM_ReadOnly")
    ratio("category search (pictures), 1M records / reading the log", "scan_log_bench", "BM_ListCategoryPictures",
          "BM_ReadMainFileOnly")
    ratio("category search (no match), 1M records / reading the log", "scan_log_bench",
          "BM_ListCategoryNothingMatches", "BM_ReadMainFileOnly")
    ratio("counting files below the root, 1M records / reading", "scan_log_bench", "BM_CountFilesBelowRoot",
          "BM_ReadMainFileOnly")
    print()
    print("identification per sector")
    figure("signature dispatch, sectors that match nothing", "carving_bench", "BM_DispatchNonMatching", "ns/sector",
           "ns/sector", 1e9)
    figure("signature dispatch, the carving image's sectors (mix)", "carving_bench", "BM_DispatchMixed", "ns/sector",
           "ns/sector", 1e9)
    ratio("dispatch index / row-by-row loop, no match", "carving_bench", "BM_DispatchNonMatching",
          "BM_RowByRowNonMatching")
    figure("look-ahead test, sectors that match nothing", "carving_bench", "BM_LookAheadNonMatching",
           "bytes_per_second", "MiB/s", 1.0 / 1048576)
    print()
    print("scan log of 1,000,000 records")
    figure("reading the main file once", "scan_log_bench", "BM_ReadMainFileOnly", "real_time", "ms")
    figure("listing one folder (1,000 records)", "scan_log_bench", "BM_ListFolder", "real_time", "us")
    figure("category search, pictures", "scan_log_bench", "BM_ListCategoryPictures", "real_time", "ms")


if __name__ == "__main__":
    main()
