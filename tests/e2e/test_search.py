# SPDX-License-Identifier: GPL-3.0-or-later
"""Searching the library by keyword over the ticked scope, and opening a hit."""
import os
import subprocess
import unittest

from orbe2e import OrbTestCase, wait_for

ORBTOOL = os.environ.get("ORBTOOL_BINARY", "orbtool")


class SearchTests(OrbTestCase):
    def catalogue(self, name, files):
        disc = os.path.join(self.orb.root, "src-" + name)
        for rel in files:
            path = os.path.join(disc, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(rel)
        subprocess.run([ORBTOOL, "scan", disc, os.path.join(self.orb.library, name + ".orb"),
                        "--label", name.upper(), "--capacity", "1000"], check=True,
                       capture_output=True)

    def test_search_ticked_scope_and_open_a_hit(self):
        orb = self.orb
        self.catalogue("软件盘", ["tools/setup.exe", "readme.txt"])
        self.catalogue("游戏盘", ["game/setup.exe"])
        orb.start()
        orb.press("check box", "搜索")
        keyword_label = orb.find("label", "关键词:", showing=True)
        pane = keyword_label.parent
        keyword = orb.find("text", within=pane, showing=True)
        scope = orb.find("tree", "范围", within=pane, showing=True)
        results = orb.find("table", "搜索结果", within=pane)

        def rows():
            return orb.cells(results)

        def toggle(label):
            # The space key on the selected item toggles its box, as for a person.
            orb.select(orb.find("table cell", label, within=scope))
            orb.keys("space")

        # Every disc is ticked when the window starts.
        orb.type_into(keyword, "setup")
        orb.press("push button", "搜索", within=pane)
        wait_for("two hits", lambda: len(rows()) == 2)
        # Only one disc ticked: only its hit.
        toggle("游戏盘")
        orb.press("push button", "搜索", within=pane)
        wait_for("one hit", lambda: len(rows()) == 1 and rows()[0][0] == "setup.exe")

        # Opening the hit opens its disc at the file.
        first = results.queryTable().getAccessibleAt(0, 0)
        orb.select(first)
        orb.keys("Return")
        wait_for("the hit's disc opened", lambda: "软件盘" in orb.main_window().name)
        file_list = orb.find("table column header", "修改时间").parent
        wait_for("the file selected in the file list", lambda: any(
            c.name == "setup.exe" and c.getState().contains(__import__("pyatspi").STATE_SELECTED)
            for c in orb.find_all("table cell", file_list)))


if __name__ == "__main__":
    unittest.main()
