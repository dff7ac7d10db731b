// Builds "Altre opzioni" from the option catalog and passes its changes on.
#include "panels/ui/OptionsPageGroup.h"

#include "access/AccountDatabase.h"
#include "access/DataView.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QLineEdit>
#include <QSqlQueryModel>

namespace kv::ui {

namespace {
constexpr int kBoxWidth = 150;
} // namespace

OptionsPageGroup::OptionsPageGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), logic_(host.views().options(), host.views().Data2()) {
    setObjectName(QStringLiteral("OptionsPageGroup"));
    addTitle(panel, QStringLiteral("Altre opzioni"), top);
    addText(panel,
            QStringLiteral("Le altre impostazioni del server, con il valore usato quando la "
                           "casella è vuota; gli stessi valori si danno con kestrova option set "
                           "e kestrova settings set."),
            top);
    for (const admin::OptionRow& row : logic_.rows()) {
        QLineEdit* box = addOptionBox(panel, row.name, row.caption, kBoxWidth, top);
        if (row.writeOnly)
            box->setEchoMode(QLineEdit::Password);
        auto* checked =
            new CheckedBox(this, box, addReasonLine(panel, row.name, top), logic_.applier(row),
                           logic_.shower(row), [&host] { host.relayout(); });
        // A write-only option says only whether it is set.
        connect(checked, &CheckedBox::changed, box,
                [this, box, row] { box->setPlaceholderText(logic_.placeholder(row)); });
        box->setPlaceholderText(logic_.placeholder(row));
        boxes_.append(checked);
    }
    // The settings row's boxes follow the row when it is read again or changes.
    access::DataView& view = host.views().Data2();
    connect(&view, &access::DataView::Reposition, this, &OptionsPageGroup::load);
    connect(view.model(), &QAbstractItemModel::dataChanged, this, &OptionsPageGroup::load);
    connect(view.model(), &QAbstractItemModel::modelReset, this, &OptionsPageGroup::load);
}

OptionsPageGroup::~OptionsPageGroup() {
    qDeleteAll(boxes_); // their edits use the logic, which goes next
}

void OptionsPageGroup::load() {
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
}

} // namespace kv::ui
