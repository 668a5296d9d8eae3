# SPDX-License-Identifier: GPL-3.0-or-later
"""Cataloguing a folder, a catalogued disc found on insertion, and a second start."""
import os
import subprocess
import unittest

import orbe2e
from orbe2e import OrbTestCase, wait_for

ORBTOOL = os.environ.get("ORBTOOL_BINARY", "orbtool")


def make_tree(root, files):
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(data)


def scan(folder, index, label, capacity):
    subprocess.run([ORBTOOL, "scan", folder, index, "--label", label, "--capacity",
                    str(capacity)], check=True, capture_output=True)


class DiscTests(OrbTestCase):
    def title_shows(self, text):
        return wait_for(f"the window title to show {text!r}",
                        lambda: text in self.orb.main_window().name)

    def test_catalogue_a_folder_through_the_menu(self):
        orb = self.orb
        src = os.path.join(orb.home, "tools")
        make_tree(src, {"setup.exe": "x" * 100, "doc/readme.txt": "hello"})
        orb.start()
        orb.menu("文件(F)", "从文件夹新建光盘映象...")
        picker = orb.dialog("选择要建立光盘映象的文件夹")
        orb.type_into(orb.find("text", "目录：", within=picker), src)
        orb.press("push button", "选择(C)", within=picker)
        dlg = orb.dialog("新建光盘映象")
        orb.press("push button", "创建", within=dlg)
        index = os.path.join(orb.library, "tools.orb")
        wait_for("the new index in the library", lambda: os.path.exists(index))
        # The disc is in the library tree once the dialog is closed.
        orb.press("push button", "退出", within=dlg)
        orb.find("table cell", "tools", within=orb.main_window())

    def test_a_catalogued_disc_inserted_opens_its_index(self):
        orb = self.orb
        disc = os.path.join(orb.root, "disc")
        make_tree(disc, {"game/start.exe": "x"})
        scan(disc, os.path.join(orb.library, "游戏盘.orb"), "GAME01", 650000000)
        orb.start()
        orb.set_drives([(disc, "GAME01", 650000000)])
        self.title_shows("游戏盘")

    def test_a_second_start_hands_its_file_over_even_after_a_failed_one(self):
        orb = self.orb
        disc = os.path.join(orb.root, "disc")
        make_tree(disc, {"a.txt": "a"})
        good = os.path.join(orb.root, "good.orb")
        scan(disc, good, "GOOD", 1000000)
        orb.start()
        failed = orb.run_second(os.path.join(orb.root, "nothere.orb"))
        self.assertEqual(failed.returncode, 0, failed.stderr)
        box = orb.dialog("提示")
        orb.find("label", "文件打开失败", within=box)
        orb.act(orb.find("push button", within=box))
        orb.no_dialog("提示")
        second = orb.run_second(good)
        self.assertEqual(second.returncode, 0, second.stderr)
        self.title_shows("good")
        self.assertIsNone(orb.proc.poll(), "the first window died")


if __name__ == "__main__":
    unittest.main()
