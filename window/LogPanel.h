#pragma once
// The "Log" panel: the log box every line goes to, "Registra log" bound to
// the settings row, "Mostra registrazione" (the viewer with the file as it
// is now) and "Cancella log" (empties the box and deletes the file).

#include "core/CoreFwd.h"
#include "monitor/ActivityLog.h"
#include "window/LogViewer.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QCheckBox;
class QDataWidgetMapper;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kv::ui {

// How long a log line may wait to be shown. A box that lays out and scrolls
// once per line spends more of a busy server's loop than its transfers do.
inline constexpr int kLogBatchMs = 50;

inline const QString kLogDeletedMessage = QStringLiteral("Il log registrato è stato cancellato");

// The question before "Cancella log" deletes the file at `path`.
QString deleteLogQuestion(const QString& path);

class LogPanel : public QObject, public monitor::LogScreen {
    Q_OBJECT
public:
    LogPanel(QWidget* panel, ProgramCore& core, Messages& messages, QWidget* window);
    ~LogPanel() override;

    // The line reaches the box within kLogBatchMs, with the others of that time.
    void ShowLogLine(const QString& line) override;
    // The box's text, lines still on their way included: every line followed by CR LF.
    QString logText() const;
    // "Registra log" as it stands (a greyed box counts as ticked).
    bool logToFile() const;

    void cmdMostraLog_Click();
    void cmdCancellaLog_Click();
    // Closes the viewer if it is open.
    void closeViewer();
    LogViewer* viewer() const { return frmLog_; }

    QPlainTextEdit* box() const { return txtLog; }
    QCheckBox* check() const { return chkLog; }
    QPushButton* showButton() const { return cmdMostraLog; }
    QPushButton* clearButton() const { return cmdCancellaLog; }

private:
    void bindSettingsRow();
    void showPending();

    ProgramCore& core_;
    Messages& messages_;
    QWidget* window_;
    QPlainTextEdit* txtLog;
    QCheckBox* chkLog;
    QPushButton* cmdMostraLog;
    QPushButton* cmdCancellaLog;
    QDataWidgetMapper* mapper_ = nullptr;
    QPointer<LogViewer> frmLog_;
    QString pending_; // lines not yet in the box, each ended by LF
    QTimer showTimer_;
};

} // namespace kv::ui
