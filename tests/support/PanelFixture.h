#pragma once
// One administration panel built into a bare container over a PanelTestHost:
// the rows a test needs are inserted first, the views opened, then the panel
// built; controls are found by their object names as the operator sees them.

#include "tests/support/PanelTestHost.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>

namespace kv::testing {

// The operator leaves `box` for another control of the window (Tab), or
// another window takes the focus (`reason` ActiveWindowFocusReason).
inline void leaveBox(QWidget* box, Qt::FocusReason reason = Qt::TabFocusReason) {
    QFocusEvent out(QEvent::FocusOut, reason);
    QCoreApplication::sendEvent(box, &out);
}

template <typename Panel> struct PanelFixture {
    using Builder = Panel* (*)(QWidget*, ui::PanelHost&);

    explicit PanelFixture(Builder builder) : builder_(builder) {}

    // `prepare` runs on the host before the panel is built (e.g. to plug in tools).
    Panel& build(const QStringList& statements = {},
                 const std::function<void(PanelTestHost&)>& prepare = {}) {
        panel.reset();
        host = std::make_unique<PanelTestHost>();
        host->exec(statements);
        if (prepare)
            prepare(*host);
        host->core().views().openAll();
        panel = std::make_unique<QWidget>();
        built = builder_(panel.get(), *host);
        return *built;
    }
    void reset() {
        panel.reset();
        host.reset();
    }

    template <typename T> T* child(const QString& name) {
        T* found = panel->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    template <typename T> T* element(const QString& name, int index) {
        return arrayChild<T>(panel.get(), name, index);
    }
    void click(const QString& button) { child<QPushButton>(button)->click(); }
    void type(const QString& box, const QString& text) {
        QLineEdit* edit = child<QLineEdit>(box);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    // One value per row of `sql`, read as another program would.
    QStringList column(const QString& sql) { return host->column(sql); }

    std::unique_ptr<PanelTestHost> host;
    std::unique_ptr<QWidget> panel;
    Panel* built = nullptr;

private:
    Builder builder_;
};

} // namespace kv::testing
