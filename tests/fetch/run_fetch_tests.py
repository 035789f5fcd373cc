#!/usr/bin/python3
# tests/fetch/run_fetch_tests.py — runs the fetch test program against the test servers.
# Starts the HTTP and FTP test servers, runs the program under Wine and passes its result on.
# Usage: run_fetch_tests.py WINE_RUN WINE_STATE FETCH_TESTS_EXE
"""The test program cannot start Linux processes, so this runner starts the servers
(two HTTP servers and one FTP server, on ports chosen at run time) and hands the
program their ports, their root folders and the files of their fault scripts and
request logs, as Windows paths on drive Z: (Wine's view of /), in the environment.
The program writes the served files and fault scripts itself and reads the logs.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "servers"))

import serverctl  # noqa: E402

# The whole run must end well within the ctest time-out.
RUN_TIMEOUT = 170


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def describe(prefix, server, root, env):
    env[prefix + "_PORT"] = str(server.port)
    env[prefix + "_ROOT"] = windows_path(root)
    env[prefix + "_FAULTS"] = windows_path(server.faults_path)
    env[prefix + "_LOG"] = windows_path(server.log_path)


def main(argv):
    wine_run, state, program = argv[1:4]
    roots = [tempfile.mkdtemp(prefix="parvel-fetch-root-") for _ in range(3)]
    servers = []
    try:
        http = serverctl.start_http(roots[0], idle_timeout=RUN_TIMEOUT + 30)
        servers.append(http)
        http2 = serverctl.start_http(roots[1], idle_timeout=RUN_TIMEOUT + 30)
        servers.append(http2)
        ftp = serverctl.start_ftp(roots[2], user="taro", password="pw", idle_timeout=RUN_TIMEOUT + 30)
        servers.append(ftp)
        env = dict(os.environ)
        describe("PARVEL_HTTP", http, roots[0], env)
        describe("PARVEL_HTTP2", http2, roots[1], env)
        describe("PARVEL_FTP", ftp, roots[2], env)
        start = time.monotonic()
        try:
            code = subprocess.run([wine_run, state, program] + argv[4:], env=env, timeout=RUN_TIMEOUT).returncode
        except subprocess.TimeoutExpired:
            print("the fetch tests did not end within %d s" % RUN_TIMEOUT)
            code = 1
        print("fetch tests under Wine: %.1f s" % (time.monotonic() - start))
        return code
    finally:
        for server in servers:
            server.stop()
        for root in roots:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
