# SPDX-License-Identifier: GPL-3.0-or-later
"""Categories and discs created, renamed and moved in the library pane, and a favourite
that still finds its file afterwards."""
import os
import subprocess
import unittest

import pyatspi

from orbe2e import OrbTestCase, StepFailed, path_of, wait_for

ORBTOOL = os.environ.get("ORBTOOL_BINARY", "orbtool")


class LibraryTests(OrbTestCase):
    def tree(self):
        return self.orb.find("tree", "光盘库", showing=True)

    def cell(self, label):
        return self.orb.find("table cell", label, within=self.tree(), showing=True)

    def context(self, label, item):
        """Chooses an item of the library tree's context menu on a row; the item's label
        editor opens."""
        orb = self.orb
        orb.click(self.cell(label))
        orb.click(self.cell(label), button=3)
        orb.choose(item, then_focus="text")

    def edit_label(self, text):
        orb = self.orb
        orb.keys("ctrl+a")
        orb.type_keys(text)
        orb.keys("Return")

    def drag(self, label, onto):
        orb = self.orb
        start, end = self.cell(label), self.cell(onto)
        orb.drag(start, end)

    def on_disk(self, *parts):
        path = os.path.join(self.orb.library, *parts)
        return wait_for(f"{os.path.join(*parts)} in the library folder",
                        lambda: os.path.exists(path))

    def test_categories_and_discs_renamed_and_moved_keep_their_favourites(self):
        orb = self.orb
        disc = os.path.join(orb.root, "disc")
        os.makedirs(os.path.join(disc, "tools"))
        for rel in ("tools/setup.exe", "readme.txt"):
            with open(os.path.join(disc, rel), "w") as f:
                f.write(rel)
        subprocess.run([ORBTOOL, "scan", disc, os.path.join(orb.library, "软件盘.orb"),
                        "--label", "SOFT", "--capacity", "1000"], check=True,
                       capture_output=True)
        orb.start()

        # A favourite on a file of the disc, added from the file list's menu.
        orb.click(self.cell("软件盘"), double=True)
        wait_for("the disc opened", lambda: "软件盘" in orb.main_window().name)
        files = orb.find("table column header", "修改时间").parent
        orb.click(orb.find("table cell", "tools", within=files), double=True)
        row = orb.find("table cell", "setup.exe", within=files)
        orb.click(row)
        orb.click(row, button=3)
        orb.choose("加入收藏夹")
        adding = orb.dialog("新增软件收藏")
        orb.press("push button", "加入收藏", within=adding)
        orb.no_dialog("新增软件收藏")

        # A category created and named, a second one, and a renamed disc.
        library = os.path.basename(orb.library.rstrip("/"))
        self.context(library, "增加分类")
        self.edit_label("tools")
        self.on_disk("tools")
        self.context(library, "增加分类")
        self.edit_label("archive")
        self.on_disk("archive")
        self.context("tools", "重命名")
        self.edit_label("software")
        self.on_disk("software")
        self.context("软件盘", "重命名")
        self.edit_label("setupdisc")
        self.on_disk("setupdisc.orb")

        # The disc moves into a category, and that category into the other.
        self.drag("setupdisc", "software")
        self.on_disk("software", "setupdisc.orb")
        orb.click(self.cell("archive"))
        self.drag("software", "archive")
        self.on_disk("archive", "software", "setupdisc.orb")
        self.assertFalse(os.path.exists(os.path.join(orb.library, "软件盘.orb")))

        # Another disc is open; the favourite finds its file on the moved disc.
        orb.keys("ctrl+2")
        favourites = orb.find("tree", "常用软件", showing=True)
        entry = orb.find("table cell", "setup.exe", within=favourites)
        orb.click(entry, double=True)
        wait_for("the moved disc opened by the favourite",
                 lambda: "setupdisc" in orb.main_window().name)
        files = orb.find("table column header", "修改时间").parent
        wait_for("setup.exe selected in the file list", lambda: any(
            c.name == "setup.exe" and c.getState().contains(pyatspi.STATE_SELECTED)
            for c in orb.find_all("table cell", files)))


if __name__ == "__main__":
    unittest.main()
