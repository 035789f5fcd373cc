# tools/bench/throughput.py — benchmark: one large file over loopback: wget, bare loop, parvel.exe.
# All three fetch from the same server in the same run: wget, the library's bare read loop
# (readloop.exe) under Wine and parvel.exe (default settings: the fetch supervision's hold too);
# prints their rates side by side and parvel.exe's ratio to the bare loop, its ceiling. Each is
# run --runs times, the bare loop and parvel.exe in turn, and the median time counts: on a
# shared machine one run of either varies by a fifth.
# Usage: throughput.py [--mib N] [--wait MS] [--runs N] [BUILD_DIR]   (BUILD_DIR defaults to build/win; the Windows build must exist)
import argparse
import os
import statistics
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(TOP, "tools", "e2e"))
sys.path.insert(0, os.path.join(TOP, "tools", "servers"))
import serverctl  # noqa: E402
from parveldriver import Driver, clear_settings, session_env, set_setting, wine, windows_path  # noqa: E402

ADDRESS, SEARCH = 1000, 1001


def make_file(path, mib):
    block = os.urandom(1 << 20)
    with open(path, "wb") as f:
        for _ in range(mib):
            f.write(block)


def fetch_with_parvel(build, state, url, save, wait):
    env = session_env(state)
    clear_settings(env)
    if wait is not None:
        set_setting(env, "wait", wait)
    folder = windows_path(env, save)
    set_setting(env, "folder", folder)
    set_setting(env, "shortcut", folder)
    set_setting(env, "start", 2)
    driver = Driver(os.path.join(build, "tools", "driver", "driver.exe"), env)
    try:
        driver.start(windows_path(env, os.path.join(build, "app", "parvel.exe")))
        driver.set_text(ADDRESS, url)
        began = time.monotonic()
        driver.click(SEARCH)
        driver.wait_caption("ｽｷｯﾌﾟ", 30000)
        driver.wait_idle(1800000)
        elapsed = time.monotonic() - began
        driver.close()
    finally:
        driver.kill()
    return elapsed


def fetch_with_wget(url, save):
    began = time.monotonic()
    subprocess.run(["wget", "-q", "-P", save, url], check=True)
    return time.monotonic() - began


def fetch_with_bare_loop(build, state, url, save):
    """Seconds of readloop.exe's own loop (from the session's open to the last
    read), which leaves out the start of the Wine process."""
    env = session_env(state)
    os.makedirs(save)
    exe = windows_path(env, os.path.join(build, "tools", "bench", "readloop.exe"))
    out = windows_path(env, os.path.join(save, "big.bin"))
    done = wine(env, exe, url, out, timeout=1800)
    line = done.stdout.decode("ascii", "replace").strip()
    if done.returncode != 0 or not line.startswith("bytes "):
        raise RuntimeError("readloop.exe: %s %s" % (line, done.stderr.decode("utf-8", "replace")))
    fields = line.split()
    return float(fields[fields.index("seconds") + 1]), int(fields[fields.index("reads") + 1])


def stored_size(folder):
    total = 0
    for root, _, files in os.walk(folder):
        for name in files:
            total += os.path.getsize(os.path.join(root, name))
    return total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--wait", type=int, help="the fetch supervision's hold in ms (default: the program's)")
    parser.add_argument("--runs", type=int, default=3, help="runs of each; the median time counts")
    parser.add_argument("build", nargs="?", default=os.path.join(TOP, "build", "win"))
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="parvel-bench-")
    state = os.path.join(work, "wine")
    try:
        root = os.path.join(work, "root")
        os.makedirs(root)
        make_file(os.path.join(root, "big.bin"), args.mib)
        subprocess.run([os.path.join(TOP, "cmake", "wine-session.sh"), "start", state], check=True)
        with serverctl.start_http(root) as http:
            url = http.url("/big.bin")
            size = args.mib << 20
            times = {"wget": [], "bare": [], "parvel": []}
            bare_reads = 0
            for run in range(args.runs):
                saves = {name: os.path.join(work, "%s-%d" % (name, run)) for name in times}
                os.makedirs(saves["parvel"])
                times["wget"].append(fetch_with_wget(url, saves["wget"]))
                bare_time, bare_reads = fetch_with_bare_loop(args.build, state, url, saves["bare"])
                times["bare"].append(bare_time)
                times["parvel"].append(fetch_with_parvel(args.build, state, url, saves["parvel"], args.wait))
                for name, folder in saves.items():
                    if stored_size(folder) != size:
                        print("%s stored %d bytes, expected %d" % (name, stored_size(folder), size))
                    shutil.rmtree(folder, ignore_errors=True)
        wget_time, bare_time, parvel_time = (statistics.median(times[name]) for name in ("wget", "bare", "parvel"))
        print("parvel.exe/bare loop by run: %s" % ", ".join(
            "%.3f" % (b / p) for b, p in zip(times["bare"], times["parvel"])))
        wget_rate, bare_rate, parvel_rate = (size / t / 1e6 for t in (wget_time, bare_time, parvel_time))
        print("file                   %d MiB over loopback, median of %d runs" % (args.mib, args.runs))
        print("wget                   %8.1f MB/s  (%.2f s)" % (wget_rate, wget_time))
        print("bare read loop (Wine)  %8.1f MB/s  (%.2f s, %d reads, %.0f bytes a read)"
              % (bare_rate, bare_time, bare_reads, size / max(bare_reads, 1)))
        hold = "default hold" if args.wait is None else "hold %d ms" % args.wait
        print("parvel.exe (Wine)      %8.1f MB/s  (%.2f s, Search to idle, %s)" % (parvel_rate, parvel_time, hold))
        print("ratio parvel/bare loop %8.3f" % (parvel_rate / bare_rate))
        print("ratio parvel/wget      %8.3f" % (parvel_rate / wget_rate))
    finally:
        subprocess.run([os.path.join(TOP, "cmake", "wine-session.sh"), "stop", state])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
