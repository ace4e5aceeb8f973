#!/usr/bin/env python3
"""Window benchmark under Wine (run it inside an X server, e.g.
`xvfb-run -a -s "-screen 0 1280x1024x24" python3 bench/window.py build/win32`):

1. window-bench.exe: one full recomposition of the 1002 x 642 demo window
   (ComposeBitmap and PaintChilds), median of 200 rounds;
2. the launcher's idle CPU in the login look over 30 s: the launcher packed
   with the demo skin and update addresses where nothing listens, so both
   runs fail at once and the window settles in the login look; CPU time from
   /proc of the launcher's process and of its wineserver.
"""
import os
import sys
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "ui-wine"))
import harness  # noqa: E402

IDLE_SECONDS = 30


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wineserver_pid(prefix):
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().startswith("wineserver"):
                    continue
            # A wineserver serves one prefix; its working directory lies in
            # the prefix's server folder, which names the prefix's inode.
            st = os.stat(prefix)
            if os.readlink("/proc/%s/cwd" % entry).endswith("server-%x-%x" % (st.st_dev, st.st_ino)):
                return int(entry)
        except OSError:
            continue
    return None


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(harness.TOP, "build", "win32"))
    work = harness.fresh_dir(os.path.join(build, "window-bench"))
    prefix = os.path.join(build, "ui-wine-prefix")
    wine = harness.Wine(prefix)
    try:
        wine.prepare(work)
        return bench(build, work, prefix, wine)
    finally:
        wine.end_server()


def bench(build, work, prefix, wine):
    skin = os.path.join(work, "skin")
    harness.run(["bash", os.path.join(harness.TOP, "demo", "make-skin.sh"), skin])
    dead = "http://127.0.0.1:9/"
    config = os.path.join(work, "config.txt")
    with open(config, "w") as f:
        f.write("\n".join(["0", "0", "0", "12", "Bench", dead + "client", dead + "launcher"] + [dead] * 6) + "\n")
    exe = os.path.join(work, "launcher.exe")
    wine.run([os.path.join(build, "tools", "launcher-pack", "launcher-pack.exe"), "pack",
              "--exe", harness.winpath(os.path.join(build, "launcher", "launcher.exe")),
              "--config", harness.winpath(config), "--skin", harness.winpath(skin),
              "--positions", harness.winpath(os.path.join(harness.TOP, "demo", "positions.json")),
              "-o", harness.winpath(exe)], timeout=120)

    print("== recomposition (window-bench.exe)")
    result = wine.run([os.path.join(build, "tests", "ui-wine", "window-bench.exe"), harness.winpath(exe), "200"],
                      timeout=600)
    sys.stdout.write(result.stdout.decode(errors="replace"))

    print("== idle CPU in the login look over %d s" % IDLE_SECONDS)
    game = harness.fresh_dir(os.path.join(work, "game"))
    launcher = os.path.join(game, "launcher.exe")
    os.rename(exe, launcher)
    screen = harness.Screen(wine, os.path.join(build, "tests", "ui-wine", "ui-probe.exe"))
    positions = harness.read_positions(os.path.join(harness.TOP, "demo", "positions.json"))
    proc = wine.start([launcher], game, os.path.join(game, "wine.log"), debug=False)
    try:
        facts = screen.wait_window(proc, 60, lambda f: f.get("visible") == "1" and f["client_width"] == "1002")
        if not facts:
            print("the launcher window did not come up")
            return 1
        panel = positions["picLogin"]
        expected = harness.layered(skin, positions, harness.LOGIN_LAYERS, panel)

        def login_look():
            shot = screen.shot()
            region = shot.crop(int(facts["left"]) + panel[0], int(facts["top"]) + panel[1], panel[2], panel[3])
            return harness.matches(region, expected)[0]

        if not harness.wait_for(login_look, 120, 0.5):
            print("the launcher did not reach the login look")
            return 1
        time.sleep(2)
        server = wineserver_pid(prefix)
        start = time.time()
        launcher_cpu = cpu_seconds(proc.pid)
        server_cpu = cpu_seconds(server) if server else 0.0
        time.sleep(IDLE_SECONDS)
        wall = time.time() - start
        launcher_cpu = cpu_seconds(proc.pid) - launcher_cpu
        server_cpu = (cpu_seconds(server) - server_cpu) if server else float("nan")
        print("launcher process: %.2f s CPU in %.1f s = %.2f %% of a core" % (launcher_cpu, wall,
                                                                            100 * launcher_cpu / wall))
        print("wineserver:       %.2f s CPU in %.1f s = %.2f %% of a core" % (server_cpu, wall,
                                                                            100 * server_cpu / wall))
    finally:
        harness.Wine.stop(proc)
    return 0


if __name__ == "__main__":
    sys.exit(main())
