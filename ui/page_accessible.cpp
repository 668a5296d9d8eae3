// SPDX-License-Identifier: GPL-3.0-or-later
// Accessible interfaces of the panel bar's buttons and the page tab control's tabs.
#include "ui/page_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QTabBar>
#include <QWindow>

#include "ui/page_tab_ctrl.h"
#include "ui/panel_bar_ctrl.h"

namespace orb {

namespace {

// The two strips seen the same way: a row of page buttons, one of them open.
struct Strip {
    QWidget* widget = nullptr;

    CPanelBarCtrl* Bar() const { return qobject_cast<CPanelBarCtrl*>(widget); }
    QTabBar* Tabs() const { return qobject_cast<QTabBar*>(widget); }

    int Count() const { return Bar() ? Bar()->GetItemCount() : Tabs()->count(); }
    int Open() const { return Bar() ? Bar()->GetSelectedItem() : Tabs()->currentIndex(); }
    bool Hot(int i) const {
        return Bar() && (Bar()->HotItem() == i || Bar()->DragHoverItem() == i);
    }
    QString Title(int i) const { return Bar() ? Bar()->GetItem(i).title : Tabs()->tabText(i); }
    QRect Rect(int i) const { return Bar() ? Bar()->ButtonRect(i) : Tabs()->tabRect(i); }
    void Select(int i) const {
        if (Bar()) {
            Bar()->SelectItem(i);
        } else {
            Tabs()->setCurrentIndex(i);
        }
    }
    int Hit(const QPoint& pos) const { return Bar() ? Bar()->HitTest(pos) : Tabs()->tabAt(pos); }
};

class PageButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    PageButtonAccessible(QWidget* strip, int index) : strip_(strip), index_(index) {}

    bool isValid() const override { return strip_ && index_ < S().Count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return strip_ && strip_->window() ? strip_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return strip_ ? QAccessible::queryAccessibleInterface(strip_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!isValid() || t != QAccessible::Name) return {};
        // "&" marks a mnemonic in a tab's text; it is not read out.
        return QString(S().Title(index_)).remove(QLatin1Char('&'));
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const bool open = S().Open() == index_;
        s.selectable = true;
        s.selected = open;
        s.checkable = true;
        s.checked = open;
        s.hotTracked = S().Hot(index_);
        s.invisible = !strip_->isVisible();
        s.disabled = !strip_->isEnabled();
        return s;
    }
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = S().Rect(index_);
        return QRect(strip_->mapToGlobal(r.topLeft()), r.size());
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid()) S().Select(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    Strip S() const { return Strip{strip_.data()}; }

    QPointer<QWidget> strip_;
    int index_;
};

// The strip's children: one page tab per button, then its child widgets (the panel
// bar's panes, the tab bar's scroll buttons).
class StripAccessible : public QAccessibleWidget {
public:
    explicit StripAccessible(QWidget* strip) : QAccessibleWidget(strip, QAccessible::PageTabList) {}
    ~StripAccessible() override {
        for (QAccessible::Id id : std::as_const(buttons_))
            QAccessible::deleteAccessibleInterface(id);
    }

    int Buttons() const { return Strip{widget()}.Count(); }

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t != QAccessible::Name || !text.isEmpty()) return text;
        // Unnamed, a strip is called by its pages: "注释、封面".
        QStringList titles;
        for (int i = 0; i < Buttons(); ++i) titles << Button(i)->text(QAccessible::Name);
        return titles.join(QStringLiteral("、"));
    }

    QAccessibleInterface* Button(int index) const {
        if (index < 0 || index >= Buttons()) return nullptr;
        if (const auto it = buttons_.constFind(index); it != buttons_.constEnd())
            return QAccessible::accessibleInterface(*it);
        auto* button = new PageButtonAccessible(widget(), index);
        buttons_.insert(index, QAccessible::registerAccessibleInterface(button));
        return button;
    }

    int childCount() const override { return Buttons() + QAccessibleWidget::childCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < Buttons()) return Button(index);
        return QAccessibleWidget::child(index - Buttons());
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (auto it = buttons_.constBegin(); it != buttons_.constEnd(); ++it)
            if (it.key() < Buttons() && QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        const int other = QAccessibleWidget::indexOfChild(child);
        return other < 0 ? -1 : other + Buttons();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        // Child widgets (a tab bar's scroll buttons) lie over the buttons.
        if (QAccessibleInterface* other = QAccessibleWidget::childAt(x, y)) return other;
        return Button(Strip{widget()}.Hit(widget()->mapFromGlobal(QPoint(x, y))));
    }

private:
    mutable QHash<int, QAccessible::Id> buttons_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String("orb::CPanelBarCtrl")) {
        if (auto* bar = qobject_cast<CPanelBarCtrl*>(object)) return new StripAccessible(bar);
    }
    // Only the tab bars of the page tab control; Qt's own serves every other.
    if (className == QLatin1String("QTabBar")) {
        auto* tabs = qobject_cast<QTabBar*>(object);
        if (tabs && qobject_cast<CPageTabCtrl*>(tabs->parent())) return new StripAccessible(tabs);
    }
    return nullptr;
}

}  // namespace

void InstallPageAccessible() {
    static const bool installed = [] {
        QAccessible::installFactory(&Factory);
        return true;
    }();
    (void)installed;
}

void NotifyPageSelection(QWidget* strip, int before, int after) {
    if (!QAccessible::isActive()) return;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(strip);
    if (!iface) return;
    QAccessible::State changed;
    changed.checked = true;
    changed.selected = true;
    for (int index : {before, after}) {
        if (index < 0 || index >= Strip{strip}.Count()) continue;
        if (QAccessibleInterface* button = iface->child(index)) {
            QAccessibleStateChangeEvent event(button, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
}

}  // namespace orb
