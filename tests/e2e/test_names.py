# SPDX-License-Identifier: GPL-3.0-or-later
"""Every control a keyboard can reach has a name a screen reader can say."""
import unittest

import pyatspi

from orbe2e import OrbTestCase, path_of, walk

# Parts that Qt itself puts into views and scroll areas; they are never focus targets
# a user meets by name (cells carry their text, scroll bars their own role).
IGNORED_ROLES = {"table cell", "list item", "table column header", "scroll bar", "filler",
                 "separator", "menu item", "page tab", "tool tip"}


def unnamed_focusable(root):
    found = []
    for node in walk(root):
        try:
            role = node.getRoleName()
            if role in IGNORED_ROLES:
                continue
            state = node.getState()
            if not state.contains(pyatspi.STATE_FOCUSABLE):
                continue
            # A combo box's drop-down list is read out under the combo box's name.
            if role == "list" and node.parent.getRoleName() == "combo box":
                continue
            if not node.name.strip():
                found.append(path_of(node))
        except Exception:
            continue
    return found


class NameTests(OrbTestCase):
    maxDiff = None

    def check(self, window, what):
        missing = unnamed_focusable(window)
        self.assertEqual(missing, [], f"{what}: focusable controls without a name")

    def test_every_focusable_control_of_the_window_and_its_dialogs_has_a_name(self):
        orb = self.orb
        orb.start()
        # Each page shows its own controls.
        for page in ("光盘库", "收藏", "搜索"):
            orb.press("check box", page)
        self.check(orb.main_window(), "main window")
        for menu, item, title in (("工具(T)", "系统配置", "系统设置"),
                                  ("帮助(H)", "关于 Kelvane光盘助手(A)", "关于"),
                                  ("文件(F)", "新建(N)", "新建光盘映象")):
            orb.menu(menu, item)
            dialog = orb.dialog(title)
            self.check(dialog, title)
            # Escape closes every dialog.
            orb.point_at(dialog)
            orb.keys("Escape")
            orb.no_dialog(title)


if __name__ == "__main__":
    unittest.main()
