# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end harness: starts the real orb in a private home and drives it over AT-SPI.

Controls are found by role and accessible name, never by position. Every wait polls a
condition up to a generous deadline. Each test leaves a screenshot of its last state in
ORB_E2E_SHOTS (the build folder) for a person to look at.
"""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import pyatspi
from gi.repository import Atspi, GLib

ORB = os.environ.get("ORB_BINARY", "orb")
SHOTS = os.environ.get("ORB_E2E_SHOTS", tempfile.gettempdir())
DEADLINE = float(os.environ.get("ORB_E2E_DEADLINE", "30"))


class StepFailed(AssertionError):
    pass


def wait_for(what, condition, deadline=DEADLINE, interval=0.1):
    """Polls condition() until it gives something true; fails naming what was awaited."""
    end = time.monotonic() + deadline
    last_error = None
    while time.monotonic() < end:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # the accessible tree changes under us
            last_error = error
        time.sleep(interval)
    raise StepFailed(f"timed out waiting for {what}" + (f" ({last_error})" if last_error else ""))


def path_of(node):
    """The accessible path of a node: role 'name' from the application down."""
    parts = []
    try:
        while node is not None and node.getRoleName() != "desktop frame":
            parts.append(f"{node.getRoleName()} '{node.name}'")
            node = node.parent
    except Exception:
        parts.append("?")
    return " / ".join(reversed(parts))


def walk(node, max_depth=40):
    """The node and everything below it, breadth first: the controls near the top of a
    window (menus, buttons) are found before the rows of its views."""
    level = [node] if node is not None else []
    depth = 0
    while level and depth <= max_depth:
        following = []
        for item in level:
            yield item
            try:
                following.extend(child for child in item if child is not None)
            except Exception:
                continue
        level = following
        depth += 1


def has_state(node, state):
    return node.getState().contains(state)


class Orb:
    """One private home, drive table and running orb."""

    def __init__(self, name):
        self.name = name
        self.root = tempfile.mkdtemp(prefix=f"orb-e2e-{name}-")
        self.home = os.path.join(self.root, "home")
        self.runtime = os.path.join(self.root, "run")
        self.tmp = os.path.join(self.root, "tmp")
        for d in (self.home, self.runtime, self.tmp):
            os.makedirs(d, mode=0o700, exist_ok=True)
        self.library = os.path.join(self.home, "Kelvane光盘库")
        os.makedirs(self.library, exist_ok=True)
        self.drives = os.path.join(self.root, "drives.txt")
        self.drive_folder = os.path.join(self.root, "drive")
        os.makedirs(self.drive_folder, exist_ok=True)
        self.set_drives([(self.drive_folder, None, None)])
        self.env = dict(os.environ)
        self.env.update(
            HOME=self.home,
            XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
            XDG_DATA_HOME=os.path.join(self.home, ".local/share"),
            XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
            XDG_RUNTIME_DIR=self.runtime,
            TMPDIR=self.tmp,
            ORB_VIRTUAL_DRIVES=self.drives,
            QT_QPA_PLATFORM="xcb",
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            QT_ACCESSIBILITY="1",
            QT_LOGGING_RULES="qt.accessibility.atspi.warning=false",
        )
        # The library lives in the private home (group 设置, value 光盘库目录, in the
        # store's own escaping of non-ASCII names).
        conf = os.path.join(self.env["XDG_CONFIG_HOME"], "KelvaneSoft")
        os.makedirs(conf, exist_ok=True)
        with open(os.path.join(conf, "Kelvane光盘助手.conf"), "w", encoding="utf-8") as f:
            f.write("[%U8BBE%U7F6E]\n%U5149%U76D8%U5E93%U76EE%U5F55=" + self.library + "/\n")
        self.proc = None
        self.app = None

    def set_drives(self, drives):
        """drives: (folder, label, capacity) triples; label None for an empty drive."""
        lines = []
        for folder, label, capacity in drives:
            lines.append(folder if label is None else f"{folder}\t{label}\t{capacity}")
        tmp = self.drives + ".new"
        with open(tmp, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        os.replace(tmp, self.drives)

    def start(self, *args):
        self.log = os.path.join(self.root, "orb.log")
        with open(self.log, "ab") as log:
            self.proc = subprocess.Popen([ORB, *args], env=self.env, stdout=log, stderr=log)
        pid = self.proc.pid

        def find_app():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == pid:
                    return app
            return None

        try:
            self.app = wait_for(f"orb (pid {pid}) on the accessibility bus", find_app)
        except StepFailed as error:
            seen = [(a.name, a.get_process_id()) for a in pyatspi.Registry.getDesktop(0) if a]
            with open(self.log, errors="replace") as log:
                said = log.read()[-2000:]
            raise StepFailed(f"{error}; orb exit status {self.proc.poll()}, on the bus: {seen}; "
                             f"orb said: {said}")
        self.main_window()
        return self

    def run_second(self, *args, timeout=20):
        """A second start of orb with the same environment; its exit status."""
        return subprocess.run([ORB, *args], env=self.env, timeout=timeout,
                              capture_output=True, text=True)

    def windows(self):
        return [w for w in self.app if w is not None]

    def main_window(self):
        return wait_for("the main window", lambda: next(
            (w for w in self.windows() if w.getRoleName() == "frame"
             and "Kelvane光盘助手" in w.name), None))

    def find(self, role, name=None, within=None, showing=False, deadline=DEADLINE,
             contains=False):
        """The first control with the role and accessible name (below within, else anywhere
        in the application)."""
        def look():
            roots = [within] if within is not None else self.windows()
            for root in roots:
                for node in walk(root):
                    try:
                        if node.getRoleName() != role:
                            continue
                        if name is not None:
                            if contains and name not in node.name:
                                continue
                            if not contains and node.name != name:
                                continue
                        if showing and not has_state(node, pyatspi.STATE_SHOWING):
                            continue
                        return node
                    except Exception:
                        continue
            return None
        return wait_for(f"{role} '{name}'", look, deadline=deadline)

    def find_all(self, role, within):
        return [n for n in walk(within) if n.getRoleName() == role]

    def dialog(self, title, deadline=DEADLINE):
        return wait_for(f"dialog '{title}'", lambda: next(
            (w for w in self.windows()
             if w.getRoleName() in ("dialog", "frame", "alert") and title in w.name
             and has_state(w, pyatspi.STATE_SHOWING)), None), deadline=deadline)

    def no_dialog(self, title):
        wait_for(f"dialog '{title}' to close", lambda: not any(
            title in w.name and has_state(w, pyatspi.STATE_SHOWING)
            for w in self.windows() if w.getRoleName() != "frame" or title in w.name))

    def act(self, node, action=None):
        """Runs the control's default action (press, toggle, click) or the named one."""
        iface = node.queryAction()
        names = [iface.getName(i) for i in range(iface.nActions)]
        if action is None:
            # A press runs the command; a bare toggle only flips the button's state.
            action = next((a for a in ("Press", "Click", "press", "click") if a in names), None)
        index = names.index(action) if action in names else 0
        if not names:
            raise StepFailed(f"no action on {path_of(node)}")
        # A command that opens a modal dialog answers only when the dialog closes: wait
        # briefly for the answer, then carry on while the dialog runs.
        Atspi.set_timeout(1500, 15000)
        try:
            iface.doAction(index)
        except GLib.GError as error:
            if "reply" not in str(error):
                raise
        finally:
            Atspi.set_timeout(25000, 15000)

    def press(self, role, name, within=None):
        node = self.find(role, name, within=within)
        self.act(node)
        return node

    def menu(self, *path):
        """Chooses a menu item through the menu bar, as the keyboard would."""
        node = self.find("menu item", path[0], within=self.main_window())
        for item in path[1:]:
            node = self.find("menu item", item, within=node)
        self.act(node)

    def spot(self, node):
        """Where a person would point at a control: its middle, or near the start of a
        wide one (a row's text)."""
        ext = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        if ext.width <= 0 or ext.height <= 0:
            raise StepFailed(f"{path_of(node)} is not on the screen")
        return ext.x + min(ext.width // 2, 40), ext.y + ext.height // 2

    def move_pointer(self, x, y):
        """Puts the pointer at (x, y). xdotool's --sync waits for the pointer to move,
        some 16 s when it is there already: it is only asked for a real move."""
        where = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=self.env,
                               check=True, capture_output=True, text=True).stdout
        at = dict(line.split("=", 1) for line in where.split() if "=" in line)
        if (at.get("X"), at.get("Y")) != (str(x), str(y)):
            subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)], env=self.env,
                           check=True)

    def click(self, node, double=False, button=1):
        """Clicks the middle of a control found by name, as a person would."""
        x, y = self.spot(node)
        self.move_pointer(x, y)
        subprocess.run(["xdotool", "click", "--repeat", "2" if double else "1", "--delay", "80",
                        str(button)], env=self.env, check=True)
        return node

    def drag(self, node, onto):
        """Drags a control onto another with the mouse, in small steps as a hand would."""
        (x0, y0), (x1, y1) = self.spot(node), self.spot(onto)
        self.move_pointer(x0, y0)
        steps = ["mousedown", "1"]
        for i in range(1, 11):
            steps += ["sleep", "0.05", "mousemove", str(x0 + (x1 - x0) * i // 10),
                      str(y0 + (y1 - y0) * i // 10)]
        steps += ["sleep", "0.3", "mousemove", str(x1 + 1), str(y1), "sleep", "0.3",
                  "mouseup", "1"]
        subprocess.run(["xdotool", *steps], env=self.env, check=True)

    def activate(self, window):
        """Makes a window take the keyboard, as a click into it does (with no window
        manager, only a click gives a window the focus its shortcuts need)."""
        self.click(self.find("status bar", within=window) if window.getRoleName() == "frame"
                   else window)

    def choose(self, name, then_focus=None, max_steps=12):
        """Chooses an item of the open pop-up menu by the keyboard, as a screen-reader
        user does: Down until the item read out is the one wanted, then Enter. (Qt keeps
        pop-up menus, and the editors of view items, out of the accessible tree: they are
        only heard.) then_focus: the role of a control the choice puts the focus in
        (an item's label editor), awaited before this returns."""
        heard = []

        def on_focus(event):
            try:
                if event.detail1:
                    heard.append((event.source.getRoleName(), event.source.name))
            except Exception:
                pass

        def pump():
            context = GLib.MainContext.default()
            while context.iteration(False):
                pass

        def heard_since(count, role):
            pump()
            return next((n for r, n in heard[count:] if r == role), None) is not None

        pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
        try:
            for _ in range(max_steps):
                before = len(heard)
                self.keys("Down")
                wait_for("a menu item to be read out", lambda: heard_since(before, "menu item"),
                         deadline=5)
                if [n for r, n in heard[before:] if r == "menu item"][-1] == name:
                    before = len(heard)
                    self.keys("Return")
                    if then_focus:
                        wait_for(f"a {then_focus} to take the focus after '{name}'",
                                 lambda: heard_since(before, then_focus))
                    return
            raise StepFailed(f"menu item '{name}' not in the menu; heard {heard}")
        finally:
            pyatspi.Registry.deregisterEventListener(on_focus, "object:state-changed:focused")

    def point_at(self, node):
        """Puts the pointer over a window: with no window manager, the keyboard goes to
        the window under the pointer."""
        ext = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.move_pointer(ext.x + ext.width // 2, ext.y + ext.height // 2)

    def select(self, cell):
        """Selects an item of a list, tree or table by clicking it."""
        return self.click(cell)

    def cells(self, view):
        """The texts of a view's cells, row by row (header cells left out)."""
        table = view.queryTable()
        return [[table.getAccessibleAt(r, c).name for c in range(table.nColumns)]
                for r in range(table.nRows)]

    def focused(self, within=None):
        """The control that has the keyboard: the deepest focused node (a view's cells and
        the scroll area parts that share their view's focus are left out)."""
        found = None
        level = [within or self.main_window()]
        while level:
            following = []
            for node in level:
                try:
                    state = node.getState()
                    role = node.getRoleName()
                    if (state.contains(pyatspi.STATE_FOCUSED)
                            and role not in ("frame", "filler", "panel", "table cell")):
                        found = node
                    if role in ("tree", "table", "list", "tree table", "menu bar"):
                        continue  # rows and menus are not Tab stops
                    if role != "frame" and not state.contains(pyatspi.STATE_SHOWING):
                        continue
                    following.extend(child for child in node if child is not None)
                except Exception:
                    continue
            level = following
        return found

    def tab_order(self, count, key="Tab"):
        """The names of the controls that Tab reaches, one press at a time."""
        order = []
        for _ in range(count):
            before = self.focused()
            was = path_of(before) if before is not None else "nothing"
            self.keys(key)
            now = wait_for(f"{key} to move the focus on from {was}",
                           lambda: (lambda f: f if f is not None and path_of(f) != was
                                    else None)(self.focused()), deadline=5)
            order.append(now.name)
        return order

    def type_into(self, node, text):
        editable = node.queryEditableText()
        editable.setTextContents(text)

    def text_of(self, node):
        t = node.queryText()
        return t.getText(0, t.characterCount)

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], env=self.env, check=True)

    def type_keys(self, text):
        subprocess.run(["xdotool", "type", "--delay", "20", text], env=self.env, check=True)

    def screenshot(self, label):
        os.makedirs(SHOTS, exist_ok=True)
        out = os.path.join(SHOTS, f"{label}.png")
        subprocess.run(["import", "-window", "root", out], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return out

    def stop(self, sig=signal.SIGTERM):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.app = None

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)


class OrbTestCase(unittest.TestCase):
    """Starts a fresh orb per test; the last screen is saved whether it passed or not."""

    def setUp(self):
        self.orb = Orb(self.id().split(".")[-1])

    def tearDown(self):
        try:
            if self.orb.proc and self.orb.proc.poll() is None:
                self.orb.screenshot(self.id().split(".")[-1])
        finally:
            self.orb.cleanup()
