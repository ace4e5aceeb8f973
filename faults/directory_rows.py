#!/usr/bin/env python3
"""Rows of the directory service failing while the launcher's window is open.

launcher.exe of the Windows build runs under Wine on the X server of DISPLAY,
packed with the demo skin, updating from nginx (two tiny update runs) and
getting its server list from the real directory service tool on
127.0.0.1:30000, the port and address the build's launcher asks. With the
list shown (lastserver chosen, the server pop-up filled), the tool goes away
and each fault in turn answers the player's click on the refresh label
LGLabel1: nothing listening, a reply after the time-out, random bytes, a
truncated frame, frames whose length field is wrong (directory_peer.py). For
each, the label must vanish (request pending) and come back after the 5 s
time-out, not earlier; the login panel and the server pop-up must look as
before; the launcher must run on with no dialog box and no crash.
"""
import json
import os
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "ui-wine"))
import directory_peer  # noqa: E402
import harness  # noqa: E402
import resolver_peers as rp  # noqa: E402
from harness import LOGIN_LAYERS, matches, wait_for  # noqa: E402

DIRECTORY_PORT = 30000
GAME_ID = 12
LAST_SERVER = 2
# The launcher gives up on a request more than 5,000 ms old, checked by a
# 1,000 ms timer: the label is due back between 5 and about 6 s.
TIMEOUT_MIN, TIMEOUT_MAX = 5.0, 8.0
SLOW_DELAY = 7.0
SERVERS = [
    {"id": 1, "name": "电信一区", "ip": "127.0.0.1", "port": 7001, "member": "电信", "opentime": 50},
    {"id": 2, "name": "电信二区", "ip": "127.0.0.1", "port": 7002, "member": "电信", "opentime": 40,
     "recommend": 1},
    {"id": 3, "name": "电信三区", "ip": "127.0.0.1", "port": 7003, "member": "电信", "opentime": 30},
    {"id": 4, "name": "网通一区", "ip": "127.0.0.1", "port": 7004, "member": "网通", "opentime": 20},
    {"id": 5, "name": "网通二区", "ip": "127.0.0.1", "port": 7005, "member": "网通", "opentime": 10},
]
FAULTS = [
    ("down", "nothing listens on 127.0.0.1:%d" % DIRECTORY_PORT),
    ("slow", "the real reply, sent %.0f s after the request" % SLOW_DELAY),
    ("random", "3 datagrams of random bytes (64, 1200, 9000), no frame start"),
    ("truncated", "the first half of the real reply frame"),
    ("long-length", "the real reply frame, length field 1,000 bytes beyond the datagram"),
    ("short-length", "the document compressed (flags 1), length field half the compressed bytes"),
]
# The picker's labels, compared one by one: a lost list changes only a few
# per cent of the whole login panel.
PICKER_LABELS = ("lbLstSelSrv", "lbMember", "lbCurSelSrv")


class Window:
    """The launcher process, its window's facts and the screen."""

    def __init__(self, env, wine, exe, folder):
        self.env, self.wine = env, wine
        self.folder = folder
        self.exe = os.path.join(folder, "launcher.exe")
        self.screen = harness.Screen(wine, os.path.join(env.win32, "tests", "ui-wine", "ui-probe.exe"))
        self.positions = harness.read_positions(os.path.join(rp.TOP, "demo", "positions.json"))
        with open(exe, "rb") as src, open(self.exe, "wb") as dst:
            dst.write(src.read())
        self.log = os.path.join(folder, "wine.log")
        self.proc = wine.start([self.exe], folder, self.log)
        self.facts = None

    def region(self, shot, control_or_rect):
        x, y, w, h = self.positions[control_or_rect] if isinstance(control_or_rect, str) else control_or_rect
        return shot.crop(int(self.facts["left"]) + x, int(self.facts["top"]) + y, w, h)

    def point(self, control):
        x, y, w, h = self.positions[control]
        return int(self.facts["left"]) + x + w // 2, int(self.facts["top"]) + y + h // 2

    def popup_rect(self, items):
        """The server pop-up's place in window coordinates: below
        lbCurSelSrv, 245 wide, 32 per item and the frame."""
        x, y, w, h = self.positions["lbCurSelSrv"]
        return (x, y + h, 245, min(32 * items + 2, 194))

    def debug(self):
        return harness.debug_lines(self.log)

    def crash(self):
        """None, or the crashing program and the first crash line."""
        return harness.crash_report(harness.read_log(self.log))

    def keep_log(self, mode):
        """A copy of the Wine log beside the campaign's own logs (the work
        folder goes when the script ends); its path, or None."""
        out = os.environ.get("FAULTS_OUT")
        if not out:
            return None
        kept = os.path.join(out, "directory-window.%s.wine.log" % mode)
        with open(kept, "wb") as f:
            f.write(harness.read_log(self.log))
        return kept

    def stop(self):
        harness.Wine.stop(self.proc)


def set_up(env, wine):
    """Skin, update releases, nginx, the packed launcher; returns the exe
    and the update server (running)."""
    skin = env.path("skin")
    rp.run(["bash", os.path.join(rp.TOP, "demo", "make-skin.sh"), skin])
    www_state = env.path("updateserver")
    server = rp.update_server(env, www_state, env.base + 32).start()
    release = env.path("release")
    rp.make_release(release, {"readme.txt": 100}, seed=1)
    www = os.path.join(www_state, "www")
    rp.publish(env, release, os.path.join(www, "dir", "client"), "update.json")
    rp.publish(env, release, os.path.join(www, "dir", "launcher"), "updateL.json")
    url = "http://127.0.0.1:%d/" % (env.base + 32)
    dead = "http://127.0.0.1:%d/" % (env.base + 39)
    fields = ["0", "0", "0", str(GAME_ID), "FaultTest", url + "dir/client", url + "dir/launcher",
              dead + "home/", dead + "register/", dead + "forum/", dead + "pay/", dead + "news/", dead + "forget/"]
    config = env.path("config.txt")
    with open(config, "w", encoding="utf-8") as f:
        f.write("\n".join(fields) + "\n")
    exe = env.path("launcher.exe")
    rp.run([env.tool(env.native, "launcher-pack"), "pack", "--exe", os.path.join(env.win32, "launcher", "launcher.exe"),
            "--config", config, "--skin", skin, "--positions", os.path.join(rp.TOP, "demo", "positions.json"),
            "-o", exe])
    return exe, server, skin


def game_folder(env):
    folder = harness.fresh_dir(env.path("game"))
    for marker in ("Korblib.dll", "d3dx9_43.dll"):
        with open(os.path.join(folder, marker), "wb") as f:
            f.write(b"x")
    os.makedirs(os.path.join(folder, "data"))
    with open(os.path.join(folder, "launcher.ini"), "w") as f:
        f.write("[Main]\r\nlastserver=%d\r\n" % LAST_SERVER)
    return folder


class Picker:
    """The pictures of the picker that a fault must leave as they were."""

    def __init__(self, window, skin):
        self.window, self.skin = window, skin
        self.items = sum(1 for s in SERVERS if s["member"] == SERVERS[LAST_SERVER - 1]["member"])

    def reference(self, control_or_rect):
        rect = self.window.positions[control_or_rect] if isinstance(control_or_rect, str) else control_or_rect
        return harness.layered(self.skin, self.window.positions, LOGIN_LAYERS, rect)

    def label_state(self, shot, shown_picture):
        """"shown", "hidden" or "other" for LGLabel1 in `shot`."""
        region = self.window.region(shot, "LGLabel1")
        if matches(region, shown_picture)[0]:
            return "shown"
        if matches(region, self.reference("LGLabel1"))[0]:
            return "hidden"
        return "other"

    def popup(self):
        """Opens the server pop-up with btnSelServer, takes its picture with
        the pointer off it (no item highlighted) once it has been drawn and
        stays the same, and closes it with Escape (which, with nothing
        highlighted, applies nothing). A loaded machine draws late: each
        step waits for its picture, up to a deadline."""
        w = self.window
        rect = w.popup_rect(self.items)
        under = w.region(harness.Screen.shot(), rect)
        harness.Screen.click(*w.point("btnSelServer"))
        harness.Screen.move(int(w.facts["left"]) + 300, int(w.facts["top"]) + 10)
        picture = settled(lambda: w.region(harness.Screen.shot(), rect), lambda p: not matches(p, under)[0], 10)
        harness.run(["xdotool", "key", "Escape"])
        closed = wait_for(lambda: matches(w.region(harness.Screen.shot(), rect), under)[0], 10, 0.2)
        return picture, under, bool(closed)


def settled(take, ready, timeout):
    """The first picture from `take` that is `ready` and equal to the one
    taken just before it; the last one taken when the deadline passes."""
    deadline = time.monotonic() + timeout
    previous = None
    while True:
        picture = take()
        if ready(picture) and previous is not None and picture.data == previous.data:
            return picture
        if time.monotonic() > deadline:
            return picture
        previous = picture
        time.sleep(0.2)


def wait_list(window, timeout=90):
    """Both update runs done, the login look shown and a reply applied: the
    exchange writes the document it applies to the debug output."""
    return wait_for(lambda: any('"server"' in line for line in window.debug()), timeout, 0.5)


def fault_row(env, window, picker, mode, tried, good_reply, before, last_request):
    fault = "directory service %s" % {"down": "down", "slow": "slow"}.get(mode, "sends garbage: " + mode)
    # A refresh within 5 s of the previous request sends nothing.
    wait = last_request + 5.5 - time.monotonic()
    if wait > 0:
        time.sleep(wait)
    peer = None if mode == "down" else directory_peer.BadDirectory(DIRECTORY_PORT, mode, good_reply, SLOW_DELAY)
    try:
        harness.Screen.click(*window.point("LGLabel1"))
        clicked = time.monotonic()
        harness.Screen.move(int(window.facts["left"]) + 300, int(window.facts["top"]) + 10)
        hidden_at = back_at = None
        states = []
        while time.monotonic() - clicked < 15:
            state = picker.label_state(harness.Screen.shot(), before["label"])
            states.append(state)
            now = time.monotonic() - clicked
            if state == "hidden" and hidden_at is None:
                hidden_at = now
            if state == "shown" and hidden_at is not None:
                back_at = now
                break
            time.sleep(0.1)
        if mode == "slow":
            # The late reply arrives after the time-out; it is applied then
            # (the same list), and the picker must look the same after it.
            time.sleep(max(0.0, clicked + SLOW_DELAY + 1.5 - time.monotonic()))

        def compare():
            shot = harness.Screen.shot()
            ok, detail = matches(window.region(shot, "picLogin"), before["panel"])
            changed = [name for name in PICKER_LABELS
                       if not matches(window.region(shot, name), before["labels"][name])[0]]
            if changed:
                ok, detail = False, "changed: " + ", ".join(changed)
            return shot, ok, detail
        # A redraw still on its way on a loaded machine gets its moment.
        deadline = time.monotonic() + 5
        shot, panel_ok, panel_detail = compare()
        while not panel_ok and time.monotonic() < deadline:
            time.sleep(0.3)
            shot, panel_ok, panel_detail = compare()
        popup, _, closed = picker.popup()
        popup_ok, popup_detail = matches(popup, before["popup"])
        facts = window.screen.facts()
    finally:
        if peer is not None:
            peer.stop()
    running = window.proc.poll() is None
    dialogs = facts.get("dialogs") if facts else "?"
    windows = facts.get("count") if facts else "?"
    crash = window.crash()
    crashed = crash is not None
    timely = back_at is not None and TIMEOUT_MIN <= back_at <= TIMEOUT_MAX
    held = (hidden_at is not None and timely and panel_ok and popup_ok and closed and running
            and dialogs == "0" and windows == "1" and not crashed)
    sent = ""
    if peer is not None:
        sent = "; peer: %d request(s), %d datagram(s) sent%s" % (
            peer.requests, len(peer.sent),
            " at %.1f s" % peer.sent[0][0] if peer.sent and mode == "slow" else "")
    detail = ("label hidden %s after the click, back after %s (due between %.0f and %.0f s); login panel %s "
              "(%s); server pop-up %s (%s)%s; %s, %s window(s), dialogs %s%s%s" % (
                  "%.1f s" % hidden_at if hidden_at is not None else "never",
                  "%.2f s" % back_at if back_at is not None else "never (%s)" % states[-1],
                  TIMEOUT_MIN, TIMEOUT_MAX, "as before" if panel_ok else "CHANGED", panel_detail,
                  "as before" if popup_ok else "CHANGED", popup_detail, "" if closed else ", did not close",
                  "running" if running else "ENDED", windows, dialogs, ", crash reported (%s)" % crash if crashed else "",
                  sent))
    if not (panel_ok and popup_ok):
        shots = env.path("failures")
        os.makedirs(shots, exist_ok=True)
        window.region(shot, "picLogin").save(os.path.join(shots, mode + ".panel.ppm"))
        popup.save(os.path.join(shots, mode + ".popup.ppm"))
    if not held:
        kept = window.keep_log(mode)
        if kept:
            detail += "; Wine log: build/faults/" + os.path.basename(kept)
    rp.row(fault, "refresh clicked with the list shown; " + tried, held, detail)
    return clicked


def main():
    rp.stop_on_terminate()
    env = rp.Environment()
    # Every fault in both forms of the campaign: together about 1.5 min.
    faults = FAULTS
    needed = [os.path.join(env.win32, "launcher", "launcher.exe"),
              os.path.join(env.win32, "tests", "ui-wine", "ui-probe.exe"),
              env.tool(env.native, "directory-service"), env.tool(env.native, "launcher-pack"),
              env.tool(env.native, "launcher-manifest")]
    missing = [p for p in needed if not os.path.isfile(p)]
    if missing:
        rp.row("directory service faults", "launcher window under Wine", False, "not built: " + ", ".join(missing))
        return 0
    address = rp.cache_value(env.win32, "LAUNCHER_DIRECTORY_ADDRESS")
    if address != "127.0.0.1":
        rp.row("directory service faults", "launcher window under Wine", False,
               "the Windows build asks the directory service at %s, not 127.0.0.1" % address)
        return 0
    if not rp.udp_port_free(DIRECTORY_PORT):
        rp.row("directory service faults", "launcher window under Wine", "skipped",
               "UDP 127.0.0.1:%d, the directory port of the launcher, is in use (a demo running?)" % DIRECTORY_PORT)
        return 77
    wine = harness.Wine(os.path.join(env.win32, "faults-ui-prefix"))
    wine.prepare(env.work)
    server = tool = window = None
    try:
        exe, server, skin = set_up(env, wine)
        servers_file = env.path("servers.json")
        with open(servers_file, "w", encoding="utf-8") as f:
            json.dump({str(GAME_ID): {"server": SERVERS}}, f, ensure_ascii=False)
        tool = rp.DirectoryTool(env, servers_file, DIRECTORY_PORT, env.path("directory.log")).start(GAME_ID)
        good_reply = rp.request_reply(DIRECTORY_PORT, GAME_ID, 1.0)
        window = Window(env, wine, exe, game_folder(env))
        size = harness.Image.load(os.path.join(skin, "background.png"))
        window.facts = window.screen.wait_window(
            window.proc, 60, lambda f: f.get("visible") == "1" and
            (int(f["client_width"]), int(f["client_height"])) == (size.width, size.height))
        listed = window.facts is not None and wait_list(window)
        if not listed:
            rp.row("directory service faults", "launcher window with the real directory service", False,
                   "no server list shown: facts %s, last debug lines %s" % (window.facts, window.debug()[-5:]))
            return 0
        last_request = time.monotonic()
        picker = Picker(window, skin)
        # The list is applied before it is drawn: wait (bounded) until the
        # current-server label holds text, the refresh label is shown and
        # the login panel's picture stays the same.
        shot = settled(harness.Screen.shot,
                       lambda shot: not matches(window.region(shot, "lbCurSelSrv"), picker.reference("lbCurSelSrv"))[0]
                       and not matches(window.region(shot, "LGLabel1"), picker.reference("LGLabel1"))[0], 30)
        before = {"panel": window.region(shot, "picLogin"), "label": window.region(shot, "LGLabel1"),
                  "labels": {name: window.region(shot, name) for name in PICKER_LABELS}}
        popup, under, closed = picker.popup()
        before["popup"] = popup
        # The pictures must show a list: text in the current-server label,
        # the refresh label shown, the pop-up drawn over what was under it.
        shows_list = (not matches(window.region(shot, "lbCurSelSrv"), picker.reference("lbCurSelSrv"))[0]
                      and not matches(before["label"], picker.reference("LGLabel1"))[0]
                      and not matches(popup, under)[0] and closed)
        rp.log("the list as shown first: %s" % shows_list)
        if not shows_list:
            rp.row("directory service faults", "launcher window with the real directory service", False,
                   "the picker shows no list before the faults (current-server text, refresh label, pop-up)")
            return 0
        tool.stop()
        for mode, tried in faults:
            last_request = fault_row(env, window, picker, mode, tried, good_reply, before, last_request)
    finally:
        for thing in (window, tool, server):
            if thing is not None:
                try:
                    thing.stop()
                except Exception as exc:  # every peer gets its stop
                    rp.log("stop: %s" % exc)
        wine.end_server()
    return 0


if __name__ == "__main__":
    sys.exit(main())
