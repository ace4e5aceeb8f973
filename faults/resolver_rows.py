#!/usr/bin/env python3
"""Rows of the name lookup: the system resolver cannot resolve the update
server's host name, and the launcher's own DNS client (the public-DNS walk)
finds it through the test DNS peer; then the DNS peer is down as well.

The headless updater runs the update engine of the launcher, natively and
(the Windows build's launcher-update.exe) under Wine. A build with tests asks
127.0.0.1 on its port base + 10 as its public DNS server: dnsmasq is started
there. The host name, single.launcher.test, is one that the system resolver
has no address for; the DNS peer answers 127.0.0.9, where the update server
(nginx) also listens.
"""
import datetime
import os
import re
import socket
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resolver_peers as rp  # noqa: E402

HOST = "single.launcher.test"
PEER_ADDRESS = "127.0.0.9"
NETWORK_FAULT = "[网络故障]: 域名服务器故障，请稍候再试"
# The DNS wait is bounded at 2 s per server; the whole failed run, with its
# direct attempts, must end well within this.
FAILED_RUN_LIMIT = 30.0


def release_sizes(reduced):
    """Small files (the kept-alive batch) and large ones (the ranged engine)."""
    sizes = {"data/small%02d.bin" % i: 1000 + 4700 * i for i in range(12)}
    sizes["Client.bin"] = 300 * 1024
    sizes["data/big.pak"] = (3 if reduced else 12) * 1024 * 1024 + 17
    return sizes


def log_lines(folder):
    """(time, text) of UpdateLog.txt, whose lines start with
    "yyyy-mm-dd hh:nn:ss.zzz "."""
    lines = []
    try:
        with open(os.path.join(folder, "UpdateLog.txt"), "rb") as f:
            raw = f.read().decode("gbk", errors="replace")
    except OSError:
        return lines
    for line in raw.splitlines():
        m = re.match(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.*)", line)
        if m:
            lines.append((datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f"), m.group(2)))
    return lines


def first(lines, text):
    for when, line in lines:
        if line.startswith(text):
            return when
    return None


def seconds_between(lines, a, b):
    ta, tb = first(lines, a), first(lines, b)
    return (tb - ta).total_seconds() if ta and tb else None


class Updater:
    """launcher-update of one build: natively, or under Wine for the
    Windows build."""

    def __init__(self, env, build, label):
        self.env, self.build, self.label = env, build, label
        self.tool = env.tool(build, "launcher-update")
        self.windows = build == env.win32

    def available(self):
        if not os.path.isfile(self.tool):
            return "%s not built" % self.tool
        if self.windows and not any(os.access(os.path.join(d, "wine"), os.X_OK)
                                    for d in os.environ.get("PATH", "").split(os.pathsep)):
            return "wine is not installed"
        if rp.cache_value(self.build, "LAUNCHER_BUILD_TESTS") not in ("ON", "1", "TRUE"):
            return "the build asks the real public DNS servers (configured without tests)"
        return None

    def dns_port(self):
        return int(rp.cache_value(self.build, "LAUNCHER_TEST_PORT_BASE")) + 10

    def run(self, base_url, folder):
        args = [self.tool, "--base", base_url, "--dir", rp.winpath(folder) if self.windows else folder]
        if self.windows:
            args = [rp.WINE_RUN] + args
        env = dict(os.environ)
        env.pop("LAUNCHER_QUIET", None)
        if self.windows:
            env["WINEPREFIX"] = os.path.join(self.env.win32, "faults-wineprefix")
        started = time.monotonic()
        result = rp.run(args, timeout=600, check=False, env=env)
        elapsed = time.monotonic() - started
        rp.log("-- %s launcher-update %s: exit %d in %.2f s\n%s" % (
            self.label, base_url, result.returncode, elapsed, result.stdout.decode(errors="replace")[-3000:]))
        return result.returncode, result.stdout.decode("utf-8", errors="replace"), elapsed


def system_resolves(name):
    try:
        socket.getaddrinfo(name, 80, socket.AF_INET)
        return True
    except socket.gaierror:
        return False


def fallback_rows(env, updater, server_port, www):
    fault = "system resolver fails (%s)" % updater.label
    tried = ("update from http://%s:%d/ (no address from the system resolver), public DNS = dnsmasq on "
             "127.0.0.1:%d" % (HOST, server_port, updater.dns_port()))
    fault_down = "system resolver and DNS peer fail (%s)" % updater.label
    tried_down = "the same update with dnsmasq stopped: nothing answers on 127.0.0.1:%d" % updater.dns_port()
    missing = updater.available()
    if missing:
        rp.row(fault, tried, False, missing)
        rp.row(fault_down, tried_down, False, missing)
        return
    if not rp.udp_port_free(updater.dns_port()):
        why = "UDP 127.0.0.1:%d is in use (the build's own test peers running?)" % updater.dns_port()
        rp.row(fault, tried, False, why)
        rp.row(fault_down, tried_down, False, why)
        return

    name = "resolver-%s" % ("win32" if updater.windows else "native")
    release = os.path.join(env.work, name + "-release")
    digests = rp.make_release(release, release_sizes(env.reduced), seed=len(name))
    rp.publish(env, release, os.path.join(www, name))
    base_url = "http://%s:%d/%s" % (HOST, server_port, name)
    folder = env.path(name + "-install")
    total = sum(os.path.getsize(os.path.join(release, p)) for p in digests)

    dns = rp.dns_peer(env.path(name + "-dns"), updater.dns_port())
    try:
        dns.start()
        code, out, elapsed = updater.run(base_url, folder)
    finally:
        dns.stop()
    lines = log_lines(folder)
    texts = [t for _, t in lines]
    wrong = rp.wrong_files(folder, digests)
    local = [t for t in texts if t.startswith("local DNSIP ")]
    by_peer = "public DNSIP %s" % PEER_ADDRESS in texts
    lookup = seconds_between(lines, "request public DNSIP", "public DNSIP count")
    before_walk = seconds_between(lines, "=>", "request public DNSIP")
    ok = code == 0 and not wrong and by_peer and "public DNSIP count 1" in texts and not local
    rp.row(fault, tried, ok,
           "exit %d in %.2f s; direct request and system resolver: %s after %s; public DNS walk %s -> %s; "
           "%d of %d files (%.1f MB) with their manifest MD5%s" % (
               code, elapsed, "no address" if not local else ", ".join(local),
               "%.3f s" % before_walk if before_walk is not None else "?",
               "%.3f s" % lookup if lookup is not None else "not logged",
               PEER_ADDRESS if by_peer else "no address", len(digests) - len(wrong), len(digests),
               total / 1048576.0, "" if not wrong else "; wrong: " + ", ".join(wrong[:4])))

    # The DNS peer down as well, with a new release waiting: the run ends in
    # bounded time with the network-fault status and touches nothing.
    rp.make_release(release, {"data/small00.bin": 2222}, seed=99)
    rp.publish(env, release, os.path.join(www, name))
    before = rp.snapshot(folder, leave_out={"UpdateLog.txt"})
    code, out, elapsed = updater.run(base_url, folder)
    after = rp.snapshot(folder, leave_out={"UpdateLog.txt"})
    lines = log_lines(folder)
    texts = [t for _, t in lines]
    touched = rp.changed(before, after)
    lookup = seconds_between(lines, "request public DNSIP", "public DNSIP count")
    status = NETWORK_FAULT in out
    ok = (code == 1 and status and "public DNSIP count 0" in texts and not touched
          and elapsed < FAILED_RUN_LIMIT)
    rp.row(fault_down, tried_down, ok,
           "exit %d after %.2f s (limit %.0f s); status %s; public DNS walk gave no address after %s; "
           "%d of %d files and state changed%s (UpdateLog.txt is rewritten by every run)" % (
               code, elapsed, FAILED_RUN_LIMIT, "\"%s\"" % NETWORK_FAULT if status else "missing",
               "%.2f s" % lookup if lookup is not None else "?", len(touched), len(before),
               "" if not touched else ": " + ", ".join(touched[:4])))


def main():
    rp.stop_on_terminate()
    env = rp.Environment()
    server_port = env.base + 30
    fault = "system resolver fails"
    if system_resolves(HOST):
        rp.row(fault, "name lookup of %s" % HOST, False,
               "the system resolver of this machine has an address for %s: no resolver fault to test" % HOST)
        return 0
    server = rp.update_server(env, env.path("updateserver"), server_port)
    try:
        server.start()
        www = os.path.join(env.path("updateserver"), "www")
        for build, label in ((env.native, "headless, native"), (env.win32, "headless, Windows build under Wine")):
            fallback_rows(env, Updater(env, build, label), server_port, www)
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
