#pragma once
// The rights form: the "Permessi file" group (read, write, delete) and the
// "Permessi cartelle" group (browse, manage) with their check boxes bound to
// the rights fields of one view. The account block and the anonymous block
// are both built with it; only their control names and notes differ.

#include <QString>

#include <array>

class QWidget;

namespace kv::ui {

class ViewBinder;

struct RightsFormNames {
    // Array indexes of the two groups ("picDetails").
    int fileGroup;
    int folderGroup;
    // Check box names in the order read, write, delete, browse, manage.
    std::array<QString, 5> boxes;
    // Captions added under each group; empty: none.
    QString fileNote;
    QString folderNote;
};

struct RightsGroups {
    QWidget* files;
    QWidget* folders;
};

RightsGroups buildRightsForm(QWidget* panel, ViewBinder& binder, const RightsFormNames& names,
                             int& top);

} // namespace kv::ui
