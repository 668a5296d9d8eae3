# SPDX-License-Identifier: GPL-3.0-or-later
"""Every page and dialog is reached from the keyboard alone."""
import unittest

from orbe2e import OrbTestCase


class KeyboardTests(OrbTestCase):
    def showing(self, role, name):
        return self.orb.find(role, name, showing=True)

    def test_pages_and_dialogs_from_the_keyboard(self):
        orb = self.orb
        orb.start()
        window = orb.main_window()
        orb.activate(window)
        orb.keys("ctrl+3")
        self.showing("label", "关键词:")
        orb.keys("ctrl+2")
        self.showing("tree", "常用软件")
        orb.keys("ctrl+1")
        self.showing("tree", "光盘库")
        for keys, title in ((["ctrl+n"], "新建光盘映象"),
                            (["alt+h", "a"], "关于"),
                            (["alt+t", "Return"], "系统设置")):
            orb.activate(window)
            for key in keys:
                orb.keys(key)
            dialog = orb.dialog(title)
            orb.point_at(dialog)
            orb.keys("Escape")
            orb.no_dialog(title)

        # Tab goes through the shown pane top to bottom, then the views left to right,
        # and comes round again; Shift+Tab goes back the same way.
        orb.keys("ctrl+1")
        orb.click(orb.find("tree", "光盘库", showing=True))
        pane = ["光盘注释", "注释、封面", "修改"]
        views = ["目录树", "文件列表", "注释"]
        self.assertEqual(orb.tab_order(7), pane + views + ["光盘库"])
        self.assertEqual(orb.tab_order(2, "shift+Tab"), ["注释", "文件列表"])
        orb.keys("ctrl+3")
        orb.click(orb.find("label", "关键词:", showing=True))
        orb.click(orb.find("text", within=orb.find("label", "关键词:").parent, showing=True))
        self.assertEqual(orb.tab_order(5), ["搜索", "范围、选项", "范围", "搜索结果", "目录树"])


if __name__ == "__main__":
    unittest.main()
