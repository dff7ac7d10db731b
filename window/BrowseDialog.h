#pragma once
// The folder and file chooser of a remote window: the server's folders (and
// files, when choosing a file), asked for through the channel ("browse") as
// the operator moves, the answers taken as they come (the window never waits
// on the server). A double click opens a folder, "Su" goes to the one above.
// Choosing a folder, OK takes the folder selected in the list, or the one
// shown when none is; choosing a file, OK or a double click takes the file
// selected, and OK on a folder opens it.

#include <QDialog>
#include <QJsonObject>
#include <optional>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace kv {
class AdminConnection;
}

namespace kv::ui {

class BrowseDialog : public QDialog {
    Q_OBJECT
public:
    enum class Pick { Folder, File };
    // `start` empty: the server's default root.
    BrowseDialog(AdminConnection& connection, const QString& prompt, const QString& start,
                 QWidget* parent = nullptr, Pick pick = Pick::Folder);

    // The chosen folder or file once accepted.
    QString chosen() const { return chosen_; }
    QString shownFolder() const { return current_; }
    QListWidget* list() const { return list_; }

    // Asks for the folders of `path`.
    void open(const QString& path);
    void accept() override;

Q_SIGNALS:
    // A folder's list arrived (or its refusal).
    void shown();

private:
    void onAnswer(const std::optional<QJsonObject>& answer);
    void onActivated(QListWidgetItem* item);

    AdminConnection& connection_;
    const Pick pick_;
    QLabel* path_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* up_ = nullptr;
    QLabel* note_ = nullptr;
    QString current_;
    QString parentFolder_;
    QString chosen_;
    quint64 asked_ = 0; // the newest request: answers to older ones are dropped
};

// The path of `name` inside the server's folder `folder`.
QString serverChildPath(const QString& folder, const QString& name);
// Where a file chooser starts for the server path `current`: its folder when
// it is absolute, otherwise the server's data folder `dataFolder` (where its
// own certificate is made), or the default root when that is unknown.
QString serverFileStart(const QString& current, const QString& dataFolder);

} // namespace kv::ui
