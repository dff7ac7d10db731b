#include "window/LogViewer.h"

#include "shell/PanelLayout.h"
#include "shell/Twips.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QResizeEvent>

namespace kv::ui {

namespace {
// The box sits 120 twips from every edge of the window's client area.
const int kMargin = twipsToPixels(120);
} // namespace

LogViewer::LogViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    shell::setLayoutKind(txtLog, shell::ChildKind::LogBox);
    txtLog->setReadOnly(true);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtLog->move(kMargin, kMargin);
    // A window smaller than its margins would give the box a negative size.
    setMinimumSize(4 * kMargin, 4 * kMargin);
    resize(640, 420);
}

void LogViewer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    txtLog->resize(std::max(0, width() - 2 * kMargin), std::max(0, height() - 2 * kMargin));
}

} // namespace kv::ui
