#pragma once
// The settings boxes that a server start reads (and fills when empty). In the
// window they are the panel's controls; everywhere they show the settings row,
// so the row-backed implementation below serves both the window and headless
// mode.

#include <QString>

namespace kv::access {
class DataView;
}

namespace kv {

enum class ServerBox { Address, Port, Root, DataLingerTime, ResolveLinks, Timeout, DebugMode };
inline constexpr ServerBox kServerBoxes[] = {
    ServerBox::Address,      ServerBox::Port,    ServerBox::Root,     ServerBox::DataLingerTime,
    ServerBox::ResolveLinks, ServerBox::Timeout, ServerBox::DebugMode};

class ServerBoxes {
public:
    virtual ~ServerBoxes() = default;
    virtual QString text(ServerBox box) const = 0;
    virtual void setText(ServerBox box, const QString& text) = 0;
};

// Reads and edits the current row of the settings view. Edits stay pending on
// the view until it is committed, as edits typed into the boxes do.
class SettingsRowBoxes : public ServerBoxes {
public:
    explicit SettingsRowBoxes(access::DataView& settings) : settings_(settings) {}
    QString text(ServerBox box) const override;
    void setText(ServerBox box, const QString& text) override;

    // The settings column a box shows.
    static QString fieldName(ServerBox box);

private:
    access::DataView& settings_;
};

} // namespace kv
