# SPDX-License-Identifier: GPL-3.0-or-later
"""An annotation typed in the window survives the program being stopped by a signal."""
import os
import signal
import subprocess
import unittest

from orbe2e import OrbTestCase, wait_for

ORBTOOL = os.environ.get("ORBTOOL_BINARY", "orbtool")


class AnnotationTests(OrbTestCase):
    def open_disc(self):
        orb = self.orb
        # A double click on a disc opens its index.
        orb.click(orb.find("table cell", "资料盘", within=orb.main_window(), showing=True),
                  double=True)
        return wait_for("the disc's index to open",
                        lambda: "资料盘" in orb.main_window().name)

    def file_list(self):
        orb = self.orb
        header = orb.find("table column header", "修改时间", within=orb.main_window())
        return header.parent

    def test_annotation_kept_across_sigterm(self):
        orb = self.orb
        disc = os.path.join(orb.root, "disc")
        os.makedirs(disc)
        for name in ("report.doc", "notes.txt"):
            with open(os.path.join(disc, name), "w") as f:
                f.write(name)
        subprocess.run([ORBTOOL, "scan", disc, os.path.join(orb.library, "资料盘.orb"),
                        "--label", "DATA", "--capacity", "1000"], check=True,
                       capture_output=True)
        orb.start()
        self.open_disc()
        row = orb.find("table cell", "report.doc", within=self.file_list())
        orb.select(row)
        editor = orb.find("text", "注释")
        wait_for("the annotation editor to take text",
                 lambda: not editor.getState().contains(__import__("pyatspi").STATE_READ_ONLY))
        orb.type_into(editor, "第三季度报告")
        # Choosing another row commits the edit.
        orb.select(orb.find("table cell", "notes.txt", within=self.file_list()))
        orb.stop(signal.SIGTERM)
        companion = os.path.join(orb.library, "资料盘.orc")
        self.assertTrue(os.path.exists(companion), "no companion written")

        orb.start()
        self.open_disc()
        orb.select(orb.find("table cell", "report.doc", within=self.file_list()))
        editor = orb.find("text", "注释")
        wait_for("the annotation read back", lambda: orb.text_of(editor) == "第三季度报告")


if __name__ == "__main__":
    unittest.main()
