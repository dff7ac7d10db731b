#pragma once
// The log viewer (frmLog): the log file as it was when opened, in one box
// with both scroll bars; it is not updated by later lines.

#include <QWidget>

class QPlainTextEdit;

namespace kv::ui {

class LogViewer : public QWidget {
    Q_OBJECT
public:
    explicit LogViewer(QWidget* parent = nullptr);
    QPlainTextEdit* box() const { return txtLog; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPlainTextEdit* txtLog;
};

} // namespace kv::ui
