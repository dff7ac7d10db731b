#pragma once
// Whether the address lists are in force at the moment of a login: the
// switches as stored in the settings row of accounts.dat, whichever program
// runs the server (window, headless, service) and whoever changed them
// (a panel's box, `kestrova ip allow on`, another program).

#include <QSqlDatabase>
#include <QString>

namespace kv::access {

class DataView;

class ListSwitches {
public:
    virtual ~ListSwitches() = default;
    // The block list (IPko): listed addresses are refused.
    virtual bool BlockListOn() const = 0;
    // The allow list (IPok): only listed addresses may log in.
    virtual bool AllowListOn() const = 0;
};

// A switch field of the view's current row is on unless it holds a clear
// false: a null field counts as on, as a greyed check box does. With no
// settings row to read, the switch is off.
bool SettingsSwitchOn(const DataView& settings, const QString& field);

// Reads the IPko and IPok fields of the settings row as saved in the file,
// at each question, so a change saved by any program applies to the next login.
class StoredListSwitches : public ListSwitches {
public:
    explicit StoredListSwitches(QSqlDatabase db) : db_(std::move(db)) {}
    bool BlockListOn() const override;
    bool AllowListOn() const override;

private:
    QSqlDatabase db_;
};

} // namespace kv::access
