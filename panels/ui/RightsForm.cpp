// Builds the two rights groups of an account and binds their boxes.
#include "panels/ui/RightsForm.h"

#include "access/AccountColumns.h"
#include "panels/ui/PanelParts.h"
#include "panels/ui/ViewBinder.h"

#include <QCheckBox>
#include <QWidget>

namespace kv::ui {

namespace {

constexpr int kRightsGroupHeight = 48;
constexpr int kRightsBoxWidth = 125;
constexpr int kRightsBoxTop = 22; // under the group's caption

// The captions of access::column::kRights' columns: read, write, delete | browse, manage.
constexpr std::array<const char*, 5> kCaptions = {
    {"Lettura", "Scrittura", "Cancellazione", "Navigazione", "Scrittura"}};

QWidget* rightsGroup(QWidget* panel, ViewBinder& binder, int index, const QString& caption,
                     const RightsFormNames& names, int first, int count, int& top) {
    QWidget* group = addGroup(panel, QStringLiteral("picDetails"), index, kRightsGroupHeight, top);
    groupCaption(group, caption, 0, 0);
    for (int i = 0; i < count; ++i) {
        QCheckBox* box =
            makeCheck(group, names.boxes[first + i], QString::fromUtf8(kCaptions[first + i]),
                      i * kRightsBoxWidth, kRightsBoxTop, kRightsBoxWidth);
        binder.bind(box, access::column::kRights[first + i].first);
    }
    return group;
}

} // namespace

RightsGroups buildRightsForm(QWidget* panel, ViewBinder& binder, const RightsFormNames& names,
                             int& top) {
    RightsGroups groups{};
    groups.files = rightsGroup(panel, binder, names.fileGroup, QStringLiteral("Permessi file"),
                               names, 0, 3, top);
    if (!names.fileNote.isEmpty())
        addText(panel, names.fileNote, top);
    groups.folders = rightsGroup(panel, binder, names.folderGroup,
                                 QStringLiteral("Permessi cartelle"), names, 3, 2, top);
    if (!names.folderNote.isEmpty())
        addText(panel, names.folderNote, top);
    return groups;
}

} // namespace kv::ui
