"""The table of scripts/bench. Times are wall-clock medians of whole wine runs, each followed
by `wineserver -w`, so they include Wine's own start-up; the ratio to an empty exe built the
same way is the meaningful figure."""

import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import pe  # noqa: E402
import product  # noqa: E402
import wine  # noqa: E402


def timed(prefix, exe, *args):
    start = time.monotonic()
    prefix.wine(exe, *args)
    prefix.wait()   # with Wine's 2 s linger, as the figures in the README have always been taken
    return time.monotonic() - start


def wine_times(runs, empty, exes):
    """Medians of the empty exe's run and of each exe's /Install and /Uninstall, the exes taking
    turns in each prefix so that they meet the same machine."""
    baseline, times = [], {exe: ([], []) for exe in exes}
    for _ in range(runs):
        with wine.Prefix("win32") as prefix:
            product.seed_product_files(prefix)
            prefix.wine("cmd", "/c", "exit")   # start the session: the first process pays for it
            baseline.append(timed(prefix, empty))
            for exe in exes:
                product.set_install_path(prefix, product.INSTALL_DIR)  # an uninstall removes it
                times[exe][0].append(timed(prefix, exe, "/Install"))
                times[exe][1].append(timed(prefix, exe, "/Uninstall"))
    return statistics.median(baseline), {exe: [statistics.median(t) for t in pair]
                                         for exe, pair in times.items()}


def main():
    runs, empty, i386 = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    earlier = sys.argv[4:]   # an earlier exe, measured side by side
    exe = wine.product_exe()
    image = pe.PeFile(exe)
    # Emulated, every 32-bit process costs several times its native time: only the ratios,
    # measured side by side in this one run, compare with other machines.
    i386 += ": only the ratios compare" if i386.startswith("emulated") else ""
    rows = [("exe size", f"{exe.stat().st_size} bytes (limit 28672)"),
            ("exe imports", ", ".join(image.imported_dlls())),
            ("Wine's 32-bit programs run", i386)]
    baseline, times = wine_times(runs, empty, [exe, *earlier])
    rows.append((f"empty exe under Wine (median of {runs})", f"{baseline:.2f} s"))
    for measured, (install, uninstall) in times.items():
        which = "" if measured == exe else f", earlier exe ({measured})"
        rows += [(f"/Install under Wine{which}", f"{install:.2f} s ({install / baseline:.2f} x empty)"),
                 (f"/Uninstall under Wine{which}",
                  f"{uninstall:.2f} s ({uninstall / baseline:.2f} x empty)")]
    counts = subprocess.run([str(ROOT / "build/host/bench_call_counts")], capture_output=True,
                            text=True, check=True).stdout.splitlines()
    for line in counts:
        command, total = line.split()[0], line.split()[1]
        rows.append((f"{command} platform calls (simulation)", total))
    start = time.monotonic()
    subprocess.run([str(ROOT / "build/host/unit_tests")], capture_output=True, check=True)
    rows.append(("unit suite run time", f"{time.monotonic() - start:.2f} s"))
    width = max(len(name) for name, _ in rows)
    print(f"| {'measure'.ljust(width)} | value |\n|{'-' * (width + 2)}|-------|")
    for name, value in rows:
        print(f"| {name.ljust(width)} | {value} |")


if __name__ == "__main__":
    main()
