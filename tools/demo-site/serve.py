#!/usr/bin/python3
# tools/demo-site/serve.py — serves the demo site with its placeholders filled in.
# The main HTTP server, the main site again on a port of its own, a second HTTP server
# for the "other server" links and an FTP server.
"""Command line:  /usr/bin/python3 tools/demo-site/serve.py [--info-file F] [--idle-timeout 600] [--shared-address]

Starts four servers, each on the scheme's own port of a loopback address of its own
when the machine allows it (as root), so that links carry no port; otherwise (or with
--shared-address) all on 127.0.0.1 with ports chosen at run time:
  other  HTTP, other-site/   (the "other server" of the links, @OTHER@)   127.0.0.22
  ftp    FTP,  ftp-root/     (anonymous, read-only, @FTP@)               127.0.0.23
  ported HTTP, site/         (the main site named with a port, @PORTED@)  127.0.0.21:8080
  main   HTTP, site/         (@HOST@ is the address the client used)      127.0.0.21
prints one line per server and the start address, e.g.
  OTHER 127.0.0.22
  FTP 127.0.0.23
  PORTED 127.0.0.21:8080
  MAIN 127.0.0.21
  START http://127.0.0.21/hp/
writes the same facts as JSON to --info-file, and runs until SIGTERM or SIGINT, or
until the main server stops after --idle-timeout seconds without a request.

The main site's files with Japanese names (jp/) are kept under their UTF-8 names; the
main servers also answer the Shift_JIS and EUC-JP escapes of those names (the bytes a
Shift_JIS or EUC-JP page links them with), each from the same file.

From Python:  demo = serve.start_demo(); demo.start_url; demo.main.log_entries(); demo.stop()
"""
import argparse
import json
import os
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
import serverctl  # noqa: E402

SITE = os.path.join(HERE, "site")
OTHER_SITE = os.path.join(HERE, "other-site")
FTP_ROOT = os.path.join(HERE, "ftp-root")
START_PATH = "/hp/"


class Demo:
    def __init__(self, main, other, ftp, ported):
        self.main, self.other, self.ftp, self.ported = main, other, ftp, ported
        self.start_url = main.url(START_PATH)

    def info(self):
        return {"start": self.start_url, "main": self.main.host, "other": self.other.host, "ftp": self.ftp.host,
                "ported": self.ported.host}

    def stop(self):
        for server in (self.main, self.other, self.ftp, self.ported):
            server.stop()


# Where the machine lets us (root may bind ports below 1024), each server listens on
# the scheme's own port of a loopback address of its own, so its links carry no port;
# the main site is served a second time on a port of the main address, for a link that
# names its server with a port.
OWN_ADDRESSES = {"main": ("127.0.0.21", 80), "other": ("127.0.0.22", 80), "ftp": ("127.0.0.23", 21),
                 "ported": ("127.0.0.21", 8080)}
SHARED_ADDRESSES = {"main": ("127.0.0.1", 0), "other": ("127.0.0.1", 0), "ftp": ("127.0.0.1", 0),
                    "ported": ("127.0.0.1", 0)}


def start_servers(places, idle_timeout):
    started = []
    try:
        other = serverctl.start_http(OTHER_SITE, idle_timeout=idle_timeout, address=places["other"][0],
                                     port=places["other"][1])
        started.append(other)
        ftp = serverctl.start_ftp(FTP_ROOT, idle_timeout=idle_timeout, address=places["ftp"][0], port=places["ftp"][1])
        started.append(ftp)
        ported = serverctl.start_http(SITE, variables={"OTHER": other.host, "FTP": ftp.host}, idle_timeout=idle_timeout,
                                      address=places["ported"][0],
                                      port=places["ported"][1], decode_names=True)
        started.append(ported)
        main = serverctl.start_http(SITE, variables={"OTHER": other.host, "FTP": ftp.host, "PORTED": ported.host},
                                    idle_timeout=idle_timeout, address=places["main"][0], port=places["main"][1],
                                    decode_names=True)
    except serverctl.ServerError:
        for server in started:
            server.stop()
        raise
    return Demo(main, other, ftp, ported)


def start_demo(idle_timeout=600, own_addresses=True):
    """Starts the three servers: on their own loopback addresses and the schemes' ports
    when `own_addresses` and the machine allows it, otherwise on 127.0.0.1 with ports
    chosen at run time."""
    if own_addresses:
        try:
            return start_servers(OWN_ADDRESSES, idle_timeout)
        except serverctl.ServerError:
            pass
    return start_servers(SHARED_ADDRESSES, idle_timeout)

def main(argv):
    parser = argparse.ArgumentParser(description="serve the demo site on 127.0.0.1")
    parser.add_argument("--info-file", help="file that receives the addresses as JSON")
    parser.add_argument("--idle-timeout", type=float, default=600.0)
    parser.add_argument("--shared-address", action="store_true", help="all servers on 127.0.0.1 with chosen ports")
    args = parser.parse_args(argv)
    stopping = []
    signal.signal(signal.SIGTERM, lambda signum, frame: stopping.append(signum))
    signal.signal(signal.SIGINT, lambda signum, frame: stopping.append(signum))
    demo = start_demo(args.idle_timeout, own_addresses=not args.shared_address)
    try:
        info = demo.info()
        print("OTHER %s\nFTP %s\nPORTED %s\nMAIN %s\nSTART %s" % (info["other"], info["ftp"], info["ported"], info["main"],
                                                                info["start"]), flush=True)
        if args.info_file:
            temporary = args.info_file + ".tmp"
            with open(temporary, "w") as f:
                json.dump(info, f)
            os.replace(temporary, args.info_file)
        while not stopping and demo.main.running():
            time.sleep(0.2)
    finally:
        demo.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
