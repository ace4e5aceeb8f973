#!/usr/bin/env python3
"""Runs the demo launcher under Wine and photographs it: once while the
client run is downloading (updating.png) and once in the login look after
both update runs (login.png). On a real display the window then stays up
until the player closes it; without one (Xvfb) it is closed.

  show.py --game FOLDER --probe UI-PROBE.EXE --skin SKIN_FOLDER
          --positions POSITIONS.json --out FOLDER --log WINE.LOG [--keep-open]
"""
import argparse
import os
import sys
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "ui-wine"))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    for option in ("--game", "--probe", "--skin", "--positions", "--out", "--log"):
        parser.add_argument(option, required=True)
    parser.add_argument("--keep-open", action="store_true",
                        help="a player's display (with a window manager): leave the window up")
    args = parser.parse_args()

    positions = harness.read_positions(args.positions)
    wine = harness.Wine(os.environ.get("WINEPREFIX") or os.path.join(harness.TOP, "build", "wineprefix-demo"))
    screen = harness.Screen(wine, args.probe)
    exe = os.path.join(args.game, "launcher.exe")
    proc = None
    status = 0
    try:
        wine.prepare(args.out, window_manager=args.keep_open)
        proc = wine.start([exe], args.game, args.log)
        facts = screen.wait_window(proc, 90, lambda f: f.get("visible") == "1" and f["client_width"] != "985")
        if not facts:
            print("demo: the launcher window did not come up with its skin", file=sys.stderr)
            return 1

        def window_shot():
            shot = screen.shot()
            return shot.crop(int(facts["left"]), int(facts["top"]), int(facts["client_width"]),
                             int(facts["client_height"]))

        def downloading():
            # The update thread's line "下载 " + URL of a file (not a manifest).
            return any("http://" in line and "=>" not in line and not line.endswith(".json")
                       for line in harness.debug_lines(args.log))

        if harness.wait_for(downloading, 60, 0.1):
            time.sleep(4)  # some progress to see; the display refreshes every 500 ms
        window_shot().save(os.path.join(args.out, "updating.ppm"))
        harness.run(["convert", os.path.join(args.out, "updating.ppm"), os.path.join(args.out, "updating.png")])
        print("demo: saved %s" % os.path.join(args.out, "updating.png"), flush=True)

        # The login look shows the login panel with the start button.
        panel = positions["picLogin"]
        expected = harness.layered(args.skin, positions, harness.LOGIN_LAYERS, panel)

        def login_look():
            return harness.matches(window_shot().crop(*panel), expected)[0]

        if not harness.wait_for(login_look, 180, 0.5):
            print("demo: the launcher did not reach the login look", file=sys.stderr)
            status = 1
        time.sleep(0.5)
        window_shot().save(os.path.join(args.out, "login.ppm"))
        harness.run(["convert", os.path.join(args.out, "login.ppm"), os.path.join(args.out, "login.png")])
        print("demo: saved %s" % os.path.join(args.out, "login.png"), flush=True)
        if args.keep_open:
            print("demo: the launcher stays open; close it with its close button", flush=True)
            proc.wait()
        return status
    finally:
        if proc:
            harness.Wine.stop(proc)
        wine.end_server()


if __name__ == "__main__":
    sys.exit(main())
