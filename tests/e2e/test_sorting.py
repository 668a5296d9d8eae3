# SPDX-License-Identifier: GPL-3.0-or-later
"""The file list sorts by the clicked column, the second click reverses it."""
import os
import subprocess
import unittest

from orbe2e import OrbTestCase, wait_for

ORBTOOL = os.environ.get("ORBTOOL_BINARY", "orbtool")


class SortingTests(OrbTestCase):
    def test_each_column_both_ways_in_natural_name_order(self):
        orb = self.orb
        disc = os.path.join(orb.root, "disc")
        os.makedirs(disc)
        # Sizes and times run against the names, so every column gives its own order.
        for i, (name, size) in enumerate((("照片_1.jpg", 300), ("照片_10.jpg", 100),
                                          ("照片_2.jpg", 200))):
            path = os.path.join(disc, name)
            with open(path, "wb") as f:
                f.write(b"x" * size)
            os.utime(path, (1_600_000_000 + (2 - i) * 86400,) * 2)
        subprocess.run([ORBTOOL, "scan", disc, os.path.join(orb.library, "相册.orb"),
                        "--label", "PHOTO", "--capacity", "1000"], check=True,
                       capture_output=True)
        orb.start()
        orb.click(orb.find("table cell", "相册", showing=True), double=True)
        wait_for("the album opened", lambda: "相册" in orb.main_window().name)
        view = orb.find("tree", "文件列表", showing=True)

        def names():
            return [row[0] for row in orb.cells(view)]

        wait_for("three rows", lambda: len(names()) == 3)
        natural = ["照片_1.jpg", "照片_2.jpg", "照片_10.jpg"]
        by_size = ["照片_10.jpg", "照片_2.jpg", "照片_1.jpg"]
        by_time = ["照片_2.jpg", "照片_10.jpg", "照片_1.jpg"]
        for column, ascending in (("大小", by_size), ("修改时间", by_time), ("名称", natural)):
            header = orb.find("table column header", column, within=view)
            orb.click(header)
            first = wait_for(f"rows sorted by {column}",
                             lambda: names() if names() in (ascending, ascending[::-1]) else None)
            orb.click(header)
            wait_for(f"rows sorted by {column} the other way",
                     lambda: names() == first[::-1])


if __name__ == "__main__":
    unittest.main()
