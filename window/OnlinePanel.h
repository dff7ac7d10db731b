#pragma once
// The "Online" panel: the list of connected clients (lvwOnline) with login,
// password, address, root folder and rights in words, the remembered
// selection, sorting on a header click, the column widths saved, restored
// and scaled with the list, and the buttons that disconnect a client or put
// its address on a list.

#include "core/CoreFwd.h"
#include "monitor/OnlineList.h"

#include <QObject>
#include <optional>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace kv::ui {

class PanelHost;

inline const QString kNoUserSelectedMessage = QStringLiteral("Non è selezionato alcun utente");

class OnlinePanel : public QObject {
    Q_OBJECT
public:
    OnlinePanel(QWidget* panel, ProgramCore& core, PanelHost& host);

    void AggiornaUtenti();
    void clear(); // the server stopped
    void DisconnettiUtente();
    // Column widths: restored at start-up, saved at shutdown, scaled after layout.
    void CaricaImpostazioniOnline();
    void MemorizzaImpostazioniOnline();
    void AdattaColonneOnline();

    QTreeWidget* list() const { return lvwOnline; }
    QString rememberedKey() const { return remembered_; }
    std::optional<QString> selectedAddress() const;
    monitor::ColumnWidths columnWidths() const { return widths_; }
    QPushButton* killButton() const { return cmdKillUser; }

private:
    void applyWidths();
    void itemClicked(QTreeWidgetItem* item);
    void headerClicked(int column);

    ProgramCore& core_;
    PanelHost& host_;
    QTreeWidget* lvwOnline;
    QPushButton* cmdKillUser;
    QPushButton* cmdAutorizzaUser;
    QPushButton* cmdBloccaUser;
    QString remembered_;
    monitor::ColumnWidths widths_;
    monitor::ColumnScaler scaler_;
    bool applying_ = false;
};

} // namespace kv::ui
