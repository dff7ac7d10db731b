#pragma once
// The online panel's small graph of the total download and upload rate over
// the last five minutes, painted from the rate bookkeeping in the window's
// own palette.

#include <QWidget>

namespace kv::monitor {
class TransferRates;
}

namespace kv::ui {

class RateGraph : public QWidget {
    Q_OBJECT
public:
    RateGraph(const monitor::TransferRates& rates, QWidget* parent);

    // The pen colours of the two lines (also the legend's).
    QColor downloadColor() const;
    QColor uploadColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const monitor::TransferRates& rates_;
};

} // namespace kv::ui
