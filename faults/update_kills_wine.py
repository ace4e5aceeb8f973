#!/usr/bin/env python3
"""The Windows launcher killed in the middle of its update: launcher.exe
(packed, in a game folder) runs under Wine on the X display of the
environment and is killed with SIGKILL of its Wine process at random
moments after its client run fetched the manifest. After each kill every
file at its final name must be as before that start or have its manifest
MD5. When the client run finishes before a kill (the launcher run's
manifest is requested), the server switches to the other release. A last
start must bring every file to its manifest MD5.

  update_kills_wine.py GAME WWW PREFIX KILLS SEED WORK

WWW holds the releases A and B and the link "current" that the packed
launcher's client address names. Prints one line of figures:
  kills N early N partial N changed N startup_ms N last_s N wrong N of M crashed N
(crashed: starts that ended by themselves before their kill or the end)
and exits 0 when it could run (the caller judges the figures), 1 when not.
"""
import os
import random
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(TOP, "tests", "ui-wine"))
import harness  # noqa: E402
import update_files  # noqa: E402


def say(text):
    print(text, file=sys.stderr, flush=True)


def snapshot(game, www):
    return update_files.digests(game, [os.path.join(www, r, "update.json") for r in ("A", "B")])


class Launcher:
    """One start of launcher.exe with its own +debugstr log."""

    def __init__(self, wine, game, log):
        self.log = log
        self.exe = os.path.join(game, "launcher.exe")
        self.proc = wine.start([self.exe], game, log)
        self.started = time.time()

    def saw(self, text):
        return text in harness.read_log(self.log)

    def alive(self):
        return self.proc.poll() is None

    def kill(self):
        """SIGKILL of the Wine process that runs launcher.exe (wine-run execs
        wine, which becomes that process); true when none of its processes
        is left afterwards."""
        if self.alive():
            os.kill(self.proc.pid, signal.SIGKILL)
        self.proc.wait()
        self.proc.log_file.close()
        return harness.wait_for(lambda: not self.running_here(), 10, 0.1)

    def running_here(self):
        exe = self.exe.encode()
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if exe in f.read().replace(b"\\", b"/"):
                        return True
            except OSError:
                pass
        return False


def main():
    game, www, prefix, kills, seed, work = sys.argv[1:7]
    kills, seed = int(kills), int(seed)
    rnd = random.Random(seed)
    wine = harness.Wine(prefix)
    wine.prepare(work)
    target = "B"
    killed = early = partial_total = changed_total = crashed = 0
    startup = []
    try:
        start = 0
        while killed < kills:
            start += 1
            before = snapshot(game, www)
            moment = rnd.uniform(0.2, 6.0)
            launcher = Launcher(wine, game, os.path.join(work, "wine%d.log" % start))
            # The client run's manifest request marks the start of the update.
            if not harness.wait_for(lambda: launcher.saw(b"update.json") or not launcher.alive(), 90, 0.05):
                say("start %d: no manifest request within 90 s" % start)
                launcher.kill()
                return 1
            startup.append(time.time() - launcher.started)
            deadline = time.time() + moment
            while time.time() < deadline and not launcher.saw(b"updateL.json") and launcher.alive():
                time.sleep(0.02)
            finished = launcher.saw(b"updateL.json")
            if not launcher.alive():
                crashed += 1
                say("start %d: launcher.exe ended by itself (exit %s)" % (start, launcher.proc.returncode))
            if not launcher.kill():
                say("start %d: a process of launcher.exe outlived its kill" % start)
                return 1
            partial, changed = update_files.compare(game, before, os.path.join(www, target, "update.json"))
            partial_total += partial
            changed_total += changed
            if finished:
                wrong, total = update_files.wrong_files(game, os.path.join(www, target, "update.json"))
                say("start %d: the client run finished before its kill; %d of %d wrong" % (start, len(wrong), total))
                if wrong:
                    partial_total += len(wrong)
                early += 1
                target = "A" if target == "B" else "B"
                os.remove(os.path.join(www, "current"))
                os.symlink(target, os.path.join(www, "current"))
                continue
            killed += 1
            say("kill %d after %.2f s of update (target %s): partial %d changed %d"
                % (killed, moment, target, partial, changed))

        launcher = Launcher(wine, game, os.path.join(work, "wine-last.log"))
        began = time.time()
        done = harness.wait_for(lambda: launcher.saw(b"updateL.json") or not launcher.alive(), 600, 0.5)
        last_s = time.time() - began
        if not launcher.alive():
            crashed += 1
            done = False
            say("the last start ended by itself (exit %s)" % launcher.proc.returncode)
        launcher.kill()
        wrong, total = update_files.wrong_files(game, os.path.join(www, target, "update.json"))
        if not done:
            say("the last start did not finish its client run within 600 s")
        print("kills %d early %d partial %d changed %d startup_ms %d last_s %d wrong %d of %d crashed %d"
              % (killed, early, partial_total, changed_total, 1000 * max(startup or [0]), round(last_s),
                 len(wrong) + (0 if done else total), total, crashed), flush=True)
        return 0
    finally:
        wine.end_server()


if __name__ == "__main__":
    sys.exit(main())
