#include "window/StartNotice.h"

#include "core/Messages.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kv::ui {

namespace {
const QString kNoShow = QStringLiteral("NoShow1");
}

bool startNoticeWanted(const SettingsStore& settings) {
    return settings.value(kAppTarrow, kSectionAppIni, kNoShow) != QLatin1String("1");
}

StartNotice::StartNotice(SettingsStore& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(QStringLiteral("frmAvviso1"));
    setWindowTitle(kProgramTitle);
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(kStartNoticeText, this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    label->setMinimumWidth(320);

    Check1 = new QCheckBox(QStringLiteral("Non mostrare più questo avviso"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(label, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Check1);
    bottom->addStretch();
    bottom->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setSpacing(14);
    layout->addLayout(top);
    layout->addLayout(bottom);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

void StartNotice::done(int result) {
    // Both the button and the close box end here.
    if (Check1->isChecked())
        settings_.setValue(kAppTarrow, kSectionAppIni, kNoShow, QStringLiteral("1"));
    QDialog::done(result);
}

} // namespace kv::ui
