#include "window/LogViewer.h"

#include "layout/PanelLayout.h"
#include "layout/Twips.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QStringDecoder>

namespace kv::ui {

namespace {
// The box sits 120 twips from every edge of the window's client area.
const int kMargin = twipsToPixels(120);
} // namespace

LogViewer::LogViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    cboFile = new QComboBox(this);
    cboFile->setObjectName(QStringLiteral("cboFile"));
    cboFile->move(kMargin, kMargin);
    cboFile->hide();
    connect(cboFile, &QComboBox::activated, this,
            [this](int index) { load(cboFile->itemData(index).toString()); });
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    shell::setLayoutKind(txtLog, shell::ChildKind::LogBox);
    txtLog->setReadOnly(true);
    // Read-only, yet moved through with the keyboard (Ctrl+End, Page Down).
    txtLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A window smaller than its margins would give the box a negative size.
    setMinimumSize(4 * kMargin, 4 * kMargin);
    resize(640, 420);
}

void LogViewer::setFiles(const QStringList& files) {
    cboFile->clear();
    for (const QString& file : files)
        cboFile->addItem(QFileInfo(file).fileName(), file);
    cboFile->setVisible(files.size() > 1);
    placeBox();
}

bool LogViewer::load(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QStringDecoder decode(QStringDecoder::System);
    txtLog->setPlainText(decode(f.readAll()));
    // The newest lines are at the end.
    txtLog->moveCursor(QTextCursor::End);
    txtLog->ensureCursorVisible();
    const int index = cboFile->findData(file);
    if (index >= 0)
        cboFile->setCurrentIndex(index);
    return true;
}

void LogViewer::placeBox() {
    const int top =
        cboFile->isVisibleTo(this) ? kMargin + cboFile->sizeHint().height() + kMargin / 2 : kMargin;
    cboFile->resize(std::max(0, width() - 2 * kMargin), cboFile->sizeHint().height());
    txtLog->setGeometry(kMargin, top, std::max(0, width() - 2 * kMargin),
                        std::max(0, height() - top - kMargin));
}

void LogViewer::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LogViewer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeBox();
}

} // namespace kv::ui
