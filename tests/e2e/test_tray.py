# SPDX-License-Identifier: GPL-3.0-or-later
"""Minimised to the tray, the window comes back when a catalogued disc is inserted."""
import os
import subprocess
import time
import unittest

import pyatspi

from orbe2e import OrbTestCase, wait_for

ORBTOOL = os.environ.get("ORBTOOL_BINARY", "orbtool")


class TrayTests(OrbTestCase):
    def setUp(self):
        super().setUp()
        # A window manager to minimise with, and a tray to minimise into.
        self.desktop = [subprocess.Popen(["openbox", "--sm-disable"], env=self.orb.env,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
        time.sleep(0.5)  # let the window manager take the screen before the tray docks
        self.desktop.append(subprocess.Popen(["trayer", "--edge", "bottom", "--align", "right"],
                                             env=self.orb.env, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL))

    def tearDown(self):
        try:
            super().tearDown()
        finally:
            for p in self.desktop:
                p.terminate()
                p.wait()

    def shown(self):
        # A window in the tray may leave the accessible tree altogether.
        return any(w.getRoleName() == "frame" and "Kelvane光盘助手" in w.name
                   and w.getState().contains(pyatspi.STATE_SHOWING)
                   for w in self.orb.windows())

    def test_inserted_disc_brings_the_window_back_from_the_tray(self):
        orb = self.orb
        disc = os.path.join(orb.root, "disc")
        os.makedirs(os.path.join(disc, "music"))
        subprocess.run([ORBTOOL, "scan", disc, os.path.join(orb.library, "音乐盘.orb"),
                        "--label", "MUSIC", "--capacity", "700000000"], check=True,
                       capture_output=True)
        orb.start()
        wait_for("the window shown", self.shown)
        window_id = wait_for("the window's X id", lambda: subprocess.run(
            ["xdotool", "search", "--pid", str(orb.proc.pid), "--name", "Kelvane"],
            env=orb.env, capture_output=True, text=True).stdout.split())
        for wid in window_id:
            subprocess.run(["xdotool", "windowminimize", wid], env=orb.env)
        wait_for("the window gone to the tray", lambda: not self.shown())
        orb.set_drives([(disc, "MUSIC", 700000000)])
        wait_for("the window back", self.shown)
        wait_for("the disc's index open", lambda: "音乐盘" in orb.main_window().name)


if __name__ == "__main__":
    unittest.main()
