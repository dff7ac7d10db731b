#include "admin/ui/AccountPanel.h"

#include "access/AccountDatabase.h"
#include "admin/ui/PanelHost.h"
#include "admin/ui/PanelParts.h"
#include "admin/ui/ViewBinder.h"
#include "admin/ui/VirtualDirDialog.h"
#include "shell/Twips.h"

#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>

namespace kv::ui {

namespace {

constexpr int kRowHeight = 20;
constexpr int kGridTop = 20;

const QString kFileRightsText = QStringLiteral(
    "Il permesso di lettura sui file consente all'utente di leggere e scaricare i file. Il "
    "permesso di scrittura consente di effettuare l'upload dei file. Il permesso di "
    "cancellazione consente di eliminare file.");
const QString kFolderRightsText = QStringLiteral(
    "Il permesso di navigazione consente all'utente di spostarsi da una cartella all'altra. Il "
    "permesso di scrittura consente di creare nuove cartelle e di eliminare cartelle.");
const QString kRootText = QStringLiteral(
    "La \"Root Directory\" è la cartella a cui gli utenti avranno accesso dopo il login. Se non "
    "è impostata sarà utilizzato il percorso di default specificato nella scheda "
    "\"Impostazioni\".");
const QString kAnonymousText = QStringLiteral(
    "L'abilitazione dell'account anonimo consente di collegarsi al server FTP senza dover "
    "fornire un login e una password (chiunque si potrà collegare al server).");
const QString kAnonymousAdvice =
    QStringLiteral("Per ragioni di sicurezza si sconsiglia fortemente di attribuire permessi di "
                   "scrittura o cancellazione all'account anonimo.");

int toPixels(int twips) {
    return twips / kTwipsPerPixel;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, int x, int y,
                        int width) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(x, y, width, 26);
    return button;
}

QLineEdit* makeBox(QWidget* parent, const QString& name, int x, int y, int width) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(x, y, width, kLineHeight);
    return box;
}

QCheckBox* makeCheck(QWidget* parent, const QString& name, const QString& text, int x, int y,
                     int width = 150) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(x, y, width, 22);
    return box;
}

} // namespace

AccountPanel::AccountPanel(QWidget* panel, PanelHost& host)
    : QObject(panel), panel_(panel), host_(host), users_(host.views().Data1()),
      anonymous_(host.views().Data3()), logic_(users_, host.messages()) {
    setObjectName(QStringLiteral("AccountPanel"));
    usersBinder_ = new ViewBinder(users_, this);
    anonymousBinder_ = new ViewBinder(anonymous_, this);
    openEditor_ = [this](int owner) { openEditor(owner); };

    int top = 8;
    buildAccountList(top);
    buildDetails(top);
    buildAnonymous(top);

    connect(&users_, &access::DataView::Reposition, this, &AccountPanel::Data1_Reposition);
    QAbstractItemModel* model = users_.model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &AccountPanel::updateCover);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &AccountPanel::updateCover);
    connect(model, &QAbstractItemModel::modelReset, this, &AccountPanel::Data1_Reposition);
    Data1_Reposition();
}

void AccountPanel::buildAccountList(int& top) {
    addTitle(panel_, QStringLiteral("Elenco account"), top);
    const int gridHeight =
        toPixels(admin::accountGridCover(kRowHeight * kTwipsPerPixel, 0, 0).gridHeight);
    QWidget* group =
        addGroup(panel_, QStringLiteral("picGrid"), -1, kGridTop + gridHeight + 36, top);
    auto* login = new QLabel(QStringLiteral("Login"), group);
    login->setGeometry(2, 0, 180, 18);
    auto* password = new QLabel(QStringLiteral("Password"), group);
    password->setGeometry(182, 0, 180, 18);

    grid_ = new QTableView(group);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setModel(users_.tableModel());
    grid_->setFrameShape(QFrame::NoFrame);
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    grid_->setGeometry(0, kGridTop, kGroupWidth, gridHeight);
    const QSqlRecord record = users_.tableModel()->record();
    for (int column = 0; column < record.count(); ++column) {
        const QString name = record.fieldName(column);
        grid_->setColumnHidden(column,
                               name != QLatin1String("login") && name != QLatin1String("password"));
    }
    grid_->setColumnWidth(record.indexOf(QStringLiteral("login")), 180);
    grid_->setColumnWidth(record.indexOf(QStringLiteral("password")), 180);
    grid_->installEventFilter(this);
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (syncingGrid_)
                    return;
                // Moving commits the row being left, which re-reads the model:
                // done after the grid's own handling of the click.
                const int row = current.isValid() ? current.row() : -1;
                QMetaObject::invokeMethod(
                    this, [this, row] { selectGridRow(row); }, Qt::QueuedConnection);
            });

    cover_ = new QWidget(group);
    cover_->setObjectName(QStringLiteral("picOnGrid1"));
    cover_->setAutoFillBackground(true);
    cover_->setBackgroundRole(QPalette::Window);
    cover_->setGeometry(0, kGridTop, kGroupWidth, gridHeight);

    const int buttonsTop = kGridTop + gridHeight + 8;
    QPushButton* add = makeButton(group, QStringLiteral("cmdAdd"), QStringLiteral("Nuovo account"),
                                  0, buttonsTop, 140);
    add->setToolTip(QStringLiteral("Aggiungi account"));
    QPushButton* remove = makeButton(group, QStringLiteral("cmdDelete"),
                                     QStringLiteral("Elimina account"), 150, buttonsTop, 140);
    remove->setToolTip(QStringLiteral("Elimina account"));
    connect(add, &QPushButton::clicked, this, [this] {
        logic_.cmdAdd();
        grid_->setFocus();
    });
    connect(remove, &QPushButton::clicked, this, [this] { logic_.cmdDelete(); });
    addSeparator(panel_, top);
}

void AccountPanel::buildDetails(int& top) {
    addTitle(panel_, QStringLiteral("Dettagli account"), top);
    auto* enabled = new QCheckBox(QStringLiteral("Account abilitato"), panel_);
    enabled->setObjectName(QStringLiteral("chkAbilitato"));
    placeChild(enabled, 22, top);
    usersBinder_->bind(enabled, QStringLiteral("enabled"));

    QWidget* names = addGroup(panel_, QStringLiteral("picDetails"), 0, 50, top);
    (new QLabel(QStringLiteral("Login"), names))->setGeometry(0, 0, 180, 18);
    (new QLabel(QStringLiteral("Password"), names))->setGeometry(192, 0, 180, 18);
    QLineEdit* login = makeBox(names, QStringLiteral("txtLogin"), 0, 22, 180);
    QLineEdit* password = makeBox(names, QStringLiteral("txtPassword"), 192, 22, 180);
    usersBinder_->bind(login, QStringLiteral("login"));
    usersBinder_->bind(password, QStringLiteral("password"));
    accountGroups_.append(names);

    accountGroups_.append(buildRootGroup(
        1, txtUserRoot_, QStringLiteral("txtUserRoot"), QStringLiteral("cmdUserBrowse"),
        QStringLiteral("cmdDefaultRoot"), QStringLiteral("picDefault"), top));
    usersBinder_->bind(txtUserRoot_, QStringLiteral("rootdir"));
    connect(panel_->findChild<QPushButton*>(QStringLiteral("cmdUserBrowse")), &QPushButton::clicked,
            this, [this] {
                browseRoot(txtUserRoot_, QStringLiteral("Seleziona la root per l'utente:"));
            });
    addText(panel_, kRootText, top);

    accountGroups_.append(
        buildPermissionGroup(2, QStringLiteral("Permessi file"),
                             {{QStringLiteral("chkRead"), QStringLiteral("Lettura")},
                              {QStringLiteral("chkWrite"), QStringLiteral("Scrittura")},
                              {QStringLiteral("chkDelete"), QStringLiteral("Cancellazione")}},
                             top));
    addText(panel_, kFileRightsText, top);
    accountGroups_.append(
        buildPermissionGroup(3, QStringLiteral("Permessi cartelle"),
                             {{QStringLiteral("chkNavigazione"), QStringLiteral("Navigazione")},
                              {QStringLiteral("chkScrittura"), QStringLiteral("Scrittura")}},
                             top));
    addText(panel_, kFolderRightsText, top);
    const QList<QPair<QString, QString>> fields = {
        {QStringLiteral("chkRead"), QStringLiteral("read")},
        {QStringLiteral("chkWrite"), QStringLiteral("write")},
        {QStringLiteral("chkDelete"), QStringLiteral("delete")},
        {QStringLiteral("chkNavigazione"), QStringLiteral("browse")},
        {QStringLiteral("chkScrittura"), QStringLiteral("manage")}};
    for (const auto& [name, field] : fields)
        usersBinder_->bind(panel_->findChild<QCheckBox*>(name), field);

    QWidget* virtualDirs = addGroup(panel_, QStringLiteral("picDetails"), 7, 50, top);
    groupCaption(virtualDirs, QStringLiteral("Cartelle virtuali"), 0, 0);
    QPushButton* open =
        makeButton(virtualDirs, QStringLiteral("cmdUserVirtual"),
                   QStringLiteral("Definisci cartelle virtuali dell'account..."), 0, 22, 300);
    connect(open, &QPushButton::clicked, this, [this] { logic_.cmdUserVirtual(openEditor_); });
    accountGroups_.append(virtualDirs);
    addSeparator(panel_, top);
}

void AccountPanel::buildAnonymous(int& top) {
    addTitle(panel_, QStringLiteral("Account anonimo"), top);
    auto* allow = new QCheckBox(QStringLiteral("Consenti account anonimo"), panel_);
    allow->setObjectName(QStringLiteral("chkAnonymous"));
    placeChild(allow, 22, top);
    anonymousBinder_->bind(allow, QStringLiteral("enabled"));
    addText(panel_, kAnonymousText, top);

    buildPermissionGroup(4, QStringLiteral("Permessi file"),
                         {{QStringLiteral("Check2"), QStringLiteral("Lettura")},
                          {QStringLiteral("Check3"), QStringLiteral("Scrittura")},
                          {QStringLiteral("Check4"), QStringLiteral("Cancellazione")}},
                         top);
    buildPermissionGroup(5, QStringLiteral("Permessi cartelle"),
                         {{QStringLiteral("Check6"), QStringLiteral("Navigazione")},
                          {QStringLiteral("Check5"), QStringLiteral("Scrittura")}},
                         top);
    const QList<QPair<QString, QString>> fields = {
        {QStringLiteral("Check2"), QStringLiteral("read")},
        {QStringLiteral("Check3"), QStringLiteral("write")},
        {QStringLiteral("Check4"), QStringLiteral("delete")},
        {QStringLiteral("Check6"), QStringLiteral("browse")},
        {QStringLiteral("Check5"), QStringLiteral("manage")}};
    for (const auto& [name, field] : fields)
        anonymousBinder_->bind(panel_->findChild<QCheckBox*>(name), field);
    addText(panel_, kAnonymousAdvice, top);

    buildRootGroup(6, txtUserRootAnon_, QStringLiteral("txtUserRootAnon"),
                   QStringLiteral("cmdUserBrowseAnon"), QStringLiteral("cmdDefaultRootAnon"),
                   QStringLiteral("picDefaultAnon"), top);
    anonymousBinder_->bind(txtUserRootAnon_, QStringLiteral("rootdir"));
    connect(panel_->findChild<QPushButton*>(QStringLiteral("cmdUserBrowseAnon")),
            &QPushButton::clicked, this, [this] {
                browseRoot(txtUserRootAnon_,
                           QStringLiteral("Seleziona la root per l'utente anonimo:"));
            });

    QWidget* virtualDirs = addGroup(panel_, QStringLiteral("picDetails"), 8, 50, top);
    groupCaption(virtualDirs, QStringLiteral("Cartelle virtuali"), 0, 0);
    QPushButton* open =
        makeButton(virtualDirs, QStringLiteral("cmdVirtualAnonymous"),
                   QStringLiteral("Cartelle virtuali dell'account anonimo..."), 0, 22, 300);
    connect(open, &QPushButton::clicked, this, [this] { logic_.cmdVirtualAnonymous(openEditor_); });
}

QWidget* AccountPanel::buildRootGroup(int index, QLineEdit*& box, const QString& boxName,
                                      const QString& browseName, const QString& defaultName,
                                      const QString& overlayName, int& top) {
    QWidget* group = addGroup(panel_, QStringLiteral("picDetails"), index, 50, top);
    groupCaption(group, QStringLiteral("Root Directory"), 0, 0);
    box = makeBox(group, boxName, 0, 22, 180);
    makeButton(group, browseName, QStringLiteral("Sfoglia..."), 186, 21, 90);
    QPushButton* reset = makeButton(group, defaultName, QStringLiteral("Default"), 282, 21, 90);
    // "(default)" lies over the empty box; clicks go through to the box.
    auto* overlay = new QLabel(QStringLiteral("(default)"), group);
    overlay->setObjectName(overlayName);
    overlay->setGeometry(6, 24, 120, kLineHeight - 4);
    overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay->setEnabled(false);
    QLineEdit* edit = box;
    connect(edit, &QLineEdit::textChanged, overlay,
            [overlay](const QString& text) { overlay->setVisible(text.isEmpty()); });
    overlay->setVisible(edit->text().isEmpty());
    connect(reset, &QPushButton::clicked, edit, [edit] { edit->setText(QString()); });
    return group;
}

QWidget* AccountPanel::buildPermissionGroup(int index, const QString& caption,
                                            const QList<QPair<QString, QString>>& boxes, int& top) {
    QWidget* group = addGroup(panel_, QStringLiteral("picDetails"), index, 48, top);
    groupCaption(group, caption, 0, 0);
    int x = 0;
    for (const auto& [name, text] : boxes) {
        makeCheck(group, name, text, x, 22, 125);
        x += 125;
    }
    return group;
}

void AccountPanel::browseRoot(QLineEdit* box, const QString& prompt) {
    const QString chosen = host_.BrowseForFolder(panel_->window(), prompt, box->text());
    if (!chosen.isEmpty())
        box->setText(chosen);
}

void AccountPanel::selectGridRow(int row) {
    if (row != users_.currentRow())
        users_.setCurrentRow(row);
    // A refused move (the row left could not be saved) keeps the old row.
    Data1_Reposition();
}

void AccountPanel::Data1_Reposition() {
    const bool current = logic_.detailsEnabled();
    for (QWidget* group : std::as_const(accountGroups_))
        group->setEnabled(current);

    syncingGrid_ = true;
    QItemSelectionModel* selection = grid_->selectionModel();
    if (current) {
        const QModelIndex index = users_.model()->index(
            users_.currentRow(), users_.tableModel()->record().indexOf(QStringLiteral("login")));
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid_->scrollTo(index);
    } else {
        selection->clear();
    }
    syncingGrid_ = false;
    updateCover();
}

void AccountPanel::updateCover() {
    const int rowHeight = grid_->verticalHeader()->defaultSectionSize() * kTwipsPerPixel;
    const admin::AccountGridCover cover =
        admin::accountGridCover(rowHeight, grid_->y() * kTwipsPerPixel, users_.RecordCount());
    grid_->resize(grid_->width(), toPixels(cover.gridHeight));
    cover_->setVisible(cover.visible);
    if (cover.visible) {
        cover_->setGeometry(grid_->x(), toPixels(cover.top), grid_->width(),
                            toPixels(cover.height));
        cover_->raise();
    }
}

bool AccountPanel::eventFilter(QObject* watched, QEvent* event) {
    // Entering the grid writes the current account back; focus coming back
    // from another window (a message box) does not.
    if (watched == grid_ && event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            logic_.saveCurrent();
    }
    return QObject::eventFilter(watched, event);
}

void AccountPanel::openEditor(int owner) {
    VirtualDirDialog dialog(host_.connection(), owner, host_, panel_->window());
    dialog.exec();
}

} // namespace kv::ui
