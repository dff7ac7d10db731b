#pragma once
// The log viewer (frmLog): the log file as it was when opened, in one box
// with both scroll bars; it is not updated by later lines. When the log has
// been rotated, a list above the box offers the older files too. It opens at
// the end, where the newest lines are.

#include <QStringList>
#include <QWidget>

class QComboBox;
class QPlainTextEdit;

namespace kv::ui {

class LogViewer : public QWidget {
    Q_OBJECT
public:
    explicit LogViewer(QWidget* parent = nullptr);
    QPlainTextEdit* box() const { return txtLog; }
    QComboBox* fileList() const { return cboFile; }

    // The files the list offers, the log itself first; the list shows only
    // when there is more than one.
    void setFiles(const QStringList& files);
    // Shows `file` as it is now; false (the box unchanged) when it cannot be read.
    bool load(const QString& file);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Escape closes the viewer.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void placeBox();

    QComboBox* cboFile;
    QPlainTextEdit* txtLog;
};

} // namespace kv::ui
