#pragma once
// Whether the address lists are in force at the moment of a login. The window
// answers from its check boxes as they stand (ticked or greyed counts as on);
// without a window the settings row answers.

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

// A switch field of the settings row is on unless it holds a clear false: a
// null field counts as on, as a greyed check box does. With no settings row to
// read, the switch is off.
bool SettingsSwitchOn(const DataView& settings, const QString& field);

// Reads the IPko and IPok fields of the settings view's current row (Data2),
// so an edit still pending on the view applies at once, like a ticked box.
class SettingsRowListSwitches : public ListSwitches {
public:
    explicit SettingsRowListSwitches(const DataView& settings) : settings_(settings) {}
    bool BlockListOn() const override;
    bool AllowListOn() const override;

private:
    const DataView& settings_;
};

} // namespace kv::access
