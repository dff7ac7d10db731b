#include "window/LogPanel.h"

#include "access/DataView.h"
#include "core/Messages.h"
#include "core/ProgramCore.h"
#include "layout/PanelLayout.h"
#include "monitor/LogRotation.h"
#include "panels/ui/PanelParts.h"
#include "settings/OptionCatalog.h"
#include "window/LogViewer.h"

#include <QCheckBox>
#include <QDataWidgetMapper>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QStringDecoder>

#include <utility>

namespace kv::ui {

QString deleteLogQuestion(const QString& path) {
    return QStringLiteral("Eliminare il file di log %1?\n\nLe righe registrate andranno perse.")
        .arg(QDir::toNativeSeparators(path));
}

LogPanel::LogPanel(QWidget* panel, ProgramCore& core, Messages& messages, QWidget* window)
    : QObject(panel), core_(core), messages_(messages), window_(window) {
    connect(&core_.notifications(), &events::ServerEvents::logLine, this,
            [this](const events::LogLine& line) { ShowLogLine(line.line); });
    int y = kPanelMarginTwips;
    addPanelHeading(panel, QStringLiteral("Registro delle attività"), y);
    QLabel* caption = addPanelCaption(
        panel,
        QStringLiteral("Ogni comando ricevuto dai client, ogni risposta del server e ogni "
                       "avvio o arresto compaiono qui sotto. Con \"Registra log\" le righe "
                       "vengono aggiunte anche al file ftp.log nella cartella dei dati."),
        y);
    caption->setObjectName(QStringLiteral("lblLogFile"));
    caption->setToolTip(QDir::toNativeSeparators(core_.logFilePath()));

    chkLog = new QCheckBox(QStringLiteral("Registra log"), panel);
    chkLog->setObjectName(QStringLiteral("chkLog"));
    placeInPanel(chkLog, kPanelMarginTwips, y, 3000, 285);
    y += 400;

    auto* buttons = new QWidget(panel);
    buttons->setObjectName(QStringLiteral("picLogCMD"));
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    cmdMostraLog = new QPushButton(QStringLiteral("Mostra registrazione"), buttons);
    cmdMostraLog->setObjectName(QStringLiteral("cmdMostraLog"));
    cmdCancellaLog = new QPushButton(QStringLiteral("Cancella log"), buttons);
    cmdCancellaLog->setObjectName(QStringLiteral("cmdCancellaLog"));
    row->addWidget(cmdMostraLog);
    row->addWidget(cmdCancellaLog);
    row->addStretch();
    placeInPanel(buttons, kPanelMarginTwips, y, 4500, 420);
    y += 500;

    addPanelSeparator(panel, y);
    addPanelCaption(panel, QStringLiteral("Log"), y, true);

    txtLog = new QPlainTextEdit(panel);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    shell::setLayoutKind(txtLog, shell::ChildKind::LogBox);
    txtLog->setReadOnly(true);
    txtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    placeInPanel(txtLog, kPanelMarginTwips, y + kPanelMarginTwips, kPanelTextWidthTwips, 2000);

    showTimer_.setSingleShot(true);
    showTimer_.setInterval(kLogBatchMs);
    connect(&showTimer_, &QTimer::timeout, this, &LogPanel::showPending);
    connect(cmdMostraLog, &QPushButton::clicked, this, &LogPanel::cmdMostraLog_Click);
    connect(cmdCancellaLog, &QPushButton::clicked, this, &LogPanel::cmdCancellaLog_Click);
    bindSettingsRow();
}

LogPanel::~LogPanel() {
    if (frmLog_)
        delete frmLog_.data();
}

void LogPanel::bindSettingsRow() {
    access::DataView& settings = core_.views().Data2();
    QSqlTableModel* model = settings.tableModel();
    if (!model)
        return;
    const int column = model->record().indexOf(settings::setting::kLog);
    if (column < 0)
        return;
    mapper_ = new QDataWidgetMapper(this);
    mapper_->setModel(model);
    mapper_->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    mapper_->addMapping(chkLog, column);
    mapper_->setCurrentIndex(settings.currentRow());
    connect(&settings, &access::DataView::Reposition, this,
            [this, &settings] { mapper_->setCurrentIndex(settings.currentRow()); });
    // A tick is an edit of the settings row at once, as typing into a bound box is.
    connect(chkLog, &QCheckBox::toggled, mapper_, &QDataWidgetMapper::submit);
}

void LogPanel::ShowLogLine(const QString& line) {
    pending_ += line;
    pending_ += QLatin1Char('\n');
    if (!showTimer_.isActive())
        showTimer_.start();
}

void LogPanel::showPending() {
    if (pending_.isEmpty())
        return;
    QScrollBar* bar = txtLog->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    QTextCursor cursor(txtLog->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(std::exchange(pending_, QString()));
    if (atEnd)
        bar->setValue(bar->maximum());
}

QString LogPanel::logText() const {
    QString text = txtLog->toPlainText() + pending_;
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

bool LogPanel::logToFile() const {
    return chkLog->checkState() != Qt::Unchecked;
}

void LogPanel::cmdMostraLog_Click() {
    const bool wasOpen = frmLog_ && frmLog_->isVisible();
    if (!frmLog_) {
        frmLog_ = new LogViewer(window_);
        frmLog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    const QString log = core_.logFilePath();
    QStringList files = {log};
    for (int n = 1; n <= monitor::kMaxRotatedLogs && QFile::exists(monitor::rotatedLogPath(log, n));
         ++n)
        files << monitor::rotatedLogPath(log, n);
    frmLog_->setFiles(files);
    if (!frmLog_->load(log) && !wasOpen)
        frmLog_->box()->clear();
    frmLog_->show();
    frmLog_->raise();
    frmLog_->activateWindow();
    frmLog_->box()->setFocus();
}

void LogPanel::cmdCancellaLog_Click() {
    const QString path = core_.logFilePath();
    // Only the file holds what cannot be had again: the box alone goes without a question.
    const bool fileExists = QFile::exists(path);
    if (fileExists && !messages_.confirm(deleteLogQuestion(path)))
        return;
    txtLog->clear();
    pending_.clear();
    if (fileExists && QFile::remove(path))
        messages_.show(kLogDeletedMessage, MessageIcon::Information);
}

void LogPanel::closeViewer() {
    if (frmLog_)
        frmLog_->close();
}

} // namespace kv::ui
