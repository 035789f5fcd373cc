#!/usr/bin/python3
# tools/bench/scale.py — benchmark: a large generated site, parvel.exe beside wget.
# Many files and a long chain of pages, crawled at unlimited depth by parvel.exe under Wine
# and by wget from the same servers in one run, each site's files also fetched by the
# library's bare request loop (request_floor.exe); prints wall time, peak memory, thread
# count and time per file side by side.
"""Usage: scale.py [--files N,N...] [--long] [--chain N] [--holds MS,MS...] [--chain-hold MS] [BUILD_DIR]
  (defaults: sites of 1,000 and 10,000 files (--long adds 100,000), a chain of 10,000
  pages, holds of 100 ms (the default) and 0 ms (*set40) for the sites, 0 ms for the chain,
  build/win; the Windows build must exist; 0 leaves a case out)

A site: /nN/s/index.html links folders d0000/, d0001/, ...; each folder's index.html
links up to 99 small files f00.bin ... (512 bytes each); N counts every file, pages
included. The chain: /c/0.html links 1.html, which links 2.html, and so on.

Figures for parvel.exe: wall time from Search to idle, peak resident memory (VmHWM)
and the largest thread count, both read from /proc of the Linux process that runs
parvel.exe, sampled every 0.1 s; the time per file, that time less the hold for which
the fetch supervision keeps every fetch worker suspended, and files per second. wget: wall time,
peak resident memory of the process (from wait4), one thread, time per file.
request_floor.exe (sites only, at each hold): the same files fetched one after another on one kept
connection under Wine, with no window; its own time from session open to the last file
stored (the start of the Wine process left out), the floor of parvel.exe's time per file.
The module also serves the end-to-end scale test (tests/e2e/test_scale.py).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(TOP, "tools", "e2e"))
sys.path.insert(0, os.path.join(TOP, "tools", "servers"))
import serverctl  # noqa: E402
from parveldriver import Driver, fresh_settings, session_env, wine, windows_path  # noqa: E402

ADDRESS, SEARCH, DEPTH_UNLIMITED = 1000, 1001, 1021
FILES_PER_FOLDER = 100          # one index.html and up to 99 files
FILE_SIZE = 512


def file_bytes(number):
    return bytes((number * 31 + i) % 251 for i in range(FILE_SIZE))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def link_page(title, targets):
    links = "".join('<A HREF="%s">%s</A><BR>\r\n' % (t, t) for t in targets)
    return ("<HTML><HEAD><TITLE>%s</TITLE></HEAD><BODY>\r\n%s</BODY></HTML>\r\n" % (title, links)).encode()


def make_site(root, files):
    """Writes a site of exactly `files` files (pages included) under root/s/.
    Returns {url path: bytes} of the files that are not pages."""
    expected = {}
    remaining = files - 1                       # the top page
    folders = []
    while remaining > 0:
        in_folder = min(FILES_PER_FOLDER, remaining)
        folders.append(in_folder - 1)           # its index.html and in_folder - 1 files
        remaining -= in_folder
    names = ["d%04d/" % n for n in range(len(folders))]
    write(os.path.join(root, "s", "index.html"), link_page("site", names))
    number = 0
    for folder, count in zip(names, folders):
        targets = ["f%02d.bin" % i for i in range(count)]
        write(os.path.join(root, "s", folder, "index.html"), link_page(folder, targets))
        for target in targets:
            data = file_bytes(number)
            number += 1
            write(os.path.join(root, "s", folder, target), data)
            expected["/s/" + folder + target] = data
    return expected


def make_chain(root, length):
    """Writes root/c/0.html ... (length pages), each linking the next."""
    for n in range(length):
        targets = ["%d.html" % (n + 1)] if n + 1 < length else []
        write(os.path.join(root, "c", "%d.html" % n), link_page("chain %d" % n, targets))


def stored_files(folder):
    count = 0
    for _, _, names in os.walk(folder):
        count += sum(1 for name in names if not name.upper().endswith(".LNK"))
    return count


# --- the Linux process that runs parvel.exe ---------------------------------------

def find_parvel_process(exe_unix_path, prefix):
    """The pid of the process whose command line names this parvel.exe and that
    runs in this Wine prefix, or None."""
    name = os.path.basename(exe_unix_path).encode()
    folder = os.path.basename(os.path.dirname(os.path.dirname(exe_unix_path))).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                command = f.read()
            if name not in command or folder not in command:
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if b"WINEPREFIX=" + prefix.encode() + b"\0" not in f.read():
                    continue
        except OSError:
            continue
        return int(entry)
    return None


def read_status(pid):
    """(VmHWM in KiB, thread count) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            text = f.read()
    except OSError:
        return None
    peak = re.search(r"^VmHWM:\s+(\d+) kB", text, re.M)
    threads = re.search(r"^Threads:\s+(\d+)", text, re.M)
    return (int(peak.group(1)) if peak else 0, int(threads.group(1)) if threads else 0)


class Sampler:
    """Samples a process's peak memory and thread count until stopped."""

    def __init__(self, pid, interval=0.1):
        self.pid = pid
        self.interval = interval
        self.peak_kib = 0
        self.max_threads = 0
        self.stop_event = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop_event.is_set():
            status = read_status(self.pid)
            if status is None:
                return
            self.peak_kib = max(self.peak_kib, status[0])
            self.max_threads = max(self.max_threads, status[1])
            self.stop_event.wait(self.interval)

    def stop(self):
        self.stop_event.set()
        self.thread.join()


class Figures:
    def __init__(self, name, files, seconds, peak_kib, threads):
        self.name, self.files, self.seconds, self.peak_kib, self.threads = name, files, seconds, peak_kib, threads

    @property
    def per_file_ms(self):
        return 1000.0 * self.seconds / max(1, self.files)


# --- the two crawlers ----------------------------------------------------------------

def crawl_with_parvel(exe, driver_exe, state, url, save, limit_s, wait=100):
    """Crawls url at unlimited depth with parvel.exe; returns its Figures (files =
    files stored) with the access log as .log. Raises when the run does not end
    within limit_s."""
    env = session_env(state)
    fresh_settings(env, save, timeout=30000, wait=wait)
    driver = Driver(driver_exe, env)
    try:
        driver.start(windows_path(env, exe))
        pid = None
        deadline = time.monotonic() + 30
        while pid is None and time.monotonic() < deadline:
            pid = find_parvel_process(exe, env["WINEPREFIX"])
            if pid is None:
                time.sleep(0.1)
        sampler = Sampler(pid) if pid else None
        driver.click(DEPTH_UNLIMITED)
        driver.set_text(ADDRESS, url)
        began = time.monotonic()
        driver.click(SEARCH)
        driver.wait_caption("ｽｷｯﾌﾟ", 30000)
        driver.wait_idle(int(limit_s * 1000))
        seconds = time.monotonic() - began
        if driver.text(SEARCH) != "探索":
            raise RuntimeError("parvel.exe did not finish %s within %d s" % (url, limit_s))
        if sampler:
            sampler.stop()
        log = driver.log_lines(timeout=limit_s)
        driver.close()
    finally:
        driver.kill()
    peak = sampler.peak_kib if sampler else 0
    threads = sampler.max_threads if sampler else 0
    figures = Figures("parvel.exe", stored_files(save), seconds, peak, threads)
    figures.log = log
    return figures


def crawl_with_wget(url, save):
    began = time.monotonic()
    process = subprocess.Popen(["wget", "-q", "-r", "-l", "inf", "-np", "-P", save, url])
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - began
    process.returncode = os.waitstatus_to_exitcode(status)
    return Figures("wget", stored_files(save), seconds, usage.ru_maxrss, 1)


def site_paths(root, size):
    """The address path of every file of the site of `size` files under root."""
    top = os.path.join(root, "n%d" % size)
    paths = []
    for folder, _, names in sorted(os.walk(top)):
        below = os.path.relpath(folder, top).replace(os.sep, "/")
        prefix = "/n%d/" % size + ("" if below == "." else below + "/")
        paths += [prefix + name for name in sorted(names)]
    return paths


def fetch_with_probe(build, state, server_url, paths, save, hold):
    """Fetches the paths with request_floor.exe under Wine into save, sleeping hold ms
    before each; its Figures (seconds of its own loop). Raises when it fails."""
    env = session_env(state)
    os.makedirs(save)
    listing = os.path.join(save, "..", os.path.basename(save) + ".list")
    with open(listing, "w") as f:
        f.write("".join(path + "\n" for path in paths))
    exe = os.path.join(build, "tools", "bench", "request_floor.exe")
    done = wine(env, windows_path(env, exe), server_url, windows_path(env, listing), windows_path(env, save),
                str(hold), timeout=4 * 3600)
    line = done.stdout.decode("ascii", "replace").strip()
    if done.returncode != 0 or not line.startswith("files "):
        raise RuntimeError("request_floor.exe: %s %s" % (line, done.stderr.decode("utf-8", "replace")))
    fields = line.split()
    return Figures("request_floor", stored_files(save), float(fields[fields.index("seconds") + 1]), 0, 1)


# --- the report ------------------------------------------------------------------------

def print_table(title, expected_files, rows):
    """rows: (hold ms, or None for wget, Figures); a peak of 0 is one not measured.
    parvel.exe's time beyond the hold is set against request_floor.exe's at the same hold."""
    print("%s (%d files)" % (title, expected_files))
    print("  %-14s %6s %7s %9s %9s %8s %12s %15s %8s" % ("", "hold", "files", "wall s", "peak MiB", "threads",
                                                       "ms per file", "ms beyond hold", "files/s"))
    for hold, f in rows:
        beyond = "%15.1f" % (f.per_file_ms - hold) if hold is not None else "%15s" % "-"
        peak = "%9.1f" % (f.peak_kib / 1024.0) if f.peak_kib else "%9s" % "-"
        print("  %-14s %6s %7d %9.1f %s %8d %12.1f %s %8.1f" % (
            f.name, "-" if hold is None else "%d" % hold, f.files, f.seconds, peak, f.threads,
            f.per_file_ms, beyond, f.files / max(0.001, f.seconds)))
    wget = [f for hold, f in rows if hold is None][0]
    floors = {hold: f for hold, f in rows if f.name == "request_floor"}
    for hold, f in rows:
        if hold is None or f.name != "parvel.exe":
            continue
        print("  parvel.exe (hold %d ms) / wget time per file: %.1f" % (
            hold, f.per_file_ms / max(0.001, wget.per_file_ms)))
        if hold in floors:
            print("  parvel.exe (hold %d ms) beyond the hold, less request_floor.exe's: %.1f ms per file" % (
                hold, f.per_file_ms - floors[hold].per_file_ms))


# Wine gives each thread of a program four file descriptors (tools/bench/bare_threads.exe
# under Wine 8: 1,000 waiting threads held 4,014 open; at a hard limit of 20,000 open files
# its 4,998th thread failed with ERROR_TOO_MANY_OPEN_FILES). A chain keeps a waiting fetch
# worker per level, so this caps the levels any crawl of it can reach here.
FDS_PER_WINE_THREAD = 4


def wine_thread_ceiling():
    """About how many threads a program under Wine can hold on this machine."""
    import resource
    return resource.getrlimit(resource.RLIMIT_NOFILE)[1] // FDS_PER_WINE_THREAD


def run_case(exe, driver_exe, state, work, name, url, holds, limit_s):
    """Crawls url with wget, then with parvel.exe once per hold (the "wait"
    setting, ms), each into a folder of its own under work; returns the rows."""
    wget_save = os.path.join(work, name + "-wget")
    rows = [(None, crawl_with_wget(url, wget_save))]
    for hold in holds:
        save = os.path.join(work, "%s-parvel-%d" % (name, hold))
        os.makedirs(save)
        figures = crawl_with_parvel(exe, driver_exe, state, url, save, limit_s, wait=hold)
        figures.save = save
        rows.append((hold, figures))
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", default="1000,10000",
                        help="sizes of the site, comma-separated (0 leaves the site out)")
    parser.add_argument("--long", action="store_true", help="adds a site of 100,000 files")
    parser.add_argument("--chain", type=int, default=10000, help="pages of the chain (0 leaves it out)")
    parser.add_argument("--holds", default="100,0",
                        help="holds of the fetch supervision (ms, the \"wait\" setting; *set40 is 0) of the site runs")
    parser.add_argument("--chain-hold", type=int, default=0, help="the hold of the chain run (ms)")
    parser.add_argument("build", nargs="?", default=os.path.join(TOP, "build", "win"))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sizes = [int(n) for n in args.files.split(",") if int(n) > 0] + ([100000] if args.long else [])
    holds = [int(n) for n in args.holds.split(",")]
    work = tempfile.mkdtemp(prefix="parvel-scale-")
    state = os.path.join(work, "wine")
    session = os.path.join(TOP, "cmake", "wine-session.sh")
    try:
        root = os.path.join(work, "root")
        for size in sizes:
            make_site(os.path.join(root, "n%d" % size), size)
        if args.chain > 0:
            make_chain(root, args.chain)
        subprocess.run([session, "start", state], check=True)
        exe = os.path.join(build, "app", "parvel.exe")
        driver_exe = os.path.join(build, "tools", "driver", "driver.exe")
        tables = []
        with serverctl.start_http(root) as http:
            for size in sizes:
                url = http.url("/n%d/s/index.html" % size)
                rows = run_case(exe, driver_exe, state, work, "site%d" % size, url, holds, 4 * 3600)
                probes = [(hold, fetch_with_probe(build, state, http.url("/"), site_paths(root, size),
                                                  os.path.join(work, "site%d-probe-%d" % (size, hold)), hold))
                          for hold in holds]
                tables.append(("site", size, rows[:1] + probes + rows[1:]))
            if args.chain > 0:
                rows = run_case(exe, driver_exe, state, work, "chain", http.url("/c/0.html"), [args.chain_hold], 4 * 3600)
                tables.append(("chain", args.chain, rows))
        print("scale benchmark, loopback HTTP server, %s" % time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()))
        for name, size, rows in tables:
            print_table(name, size, rows)
        if args.chain > 0:
            print("  threads a program under Wine can hold here: about %d (hard limit of open files / %d)"
                  % (wine_thread_ceiling(), FDS_PER_WINE_THREAD))
    finally:
        subprocess.run([session, "stop", state])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
