// The configuration editor's main window.
#include "xelcfg.h"

#include "aboutform.h"
#include "dialogs.h"
#include "helpwindow.h"
#include "programfolder.h"
#include "settingsstore.h"
#include "thermo.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QSqlQueryModel>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace exel {

namespace {

// Offers the stored controllers in the level grid's controller column.
class ControllerDelegate : public QStyledItemDelegate {
public:
    ControllerDelegate(XelCfgDb &db, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_db(db)
    {
    }
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        auto *box = new QComboBox(parent);
        box->addItems(m_db.Controllers());
        return box;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        auto *box = static_cast<QComboBox *>(editor);
        box->setCurrentIndex(qMax(0, box->findText(index.data(Qt::EditRole).toString())));
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        model->setData(index, static_cast<QComboBox *>(editor)->currentText(), Qt::EditRole);
    }

private:
    XelCfgDb &m_db;
};

const char *const kTabCaptions = "&Controllers|&Levels|&Sources|&Destinations|Name Sets";

} // namespace

XelCfg::XelCfg(XelCfgDb &db, Dialogs &dialogs, SettingsStore &settings, QWidget *parent)
    : QMainWindow(parent)
    , m_db(db)
    , m_dialogs(dialogs)
    , m_settings(settings)
    , m_thermo(new Thermo(this))
    , m_io(db, dialogs, settings, m_thermo)
    , m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("XelCfg"));
    m_tabs->setObjectName(QStringLiteral("tabMain"));
    const QStringList captions = QString::fromLatin1(kTabCaptions).split(QLatin1Char('|'));
    m_tabs->addTab(buildGridPage(PageControllers, GridKind::Controller, QStringLiteral("dbgController"),
                       QStringLiteral("btnApplyCtl"), QStringLiteral("btnCancelCtl")),
        captions[0]);
    m_tabs->addTab(buildGridPage(PageLevels, GridKind::Level, QStringLiteral("dbgLevel"),
                       QStringLiteral("btnApplyLevel"), QStringLiteral("btnCancelLevel")),
        captions[1]);
    m_tabs->addTab(buildGridPage(PageSources, GridKind::Source, QStringLiteral("dbgSource"),
                       QStringLiteral("btnApplySource"), QStringLiteral("btnCancelSource")),
        captions[2]);
    m_tabs->addTab(buildGridPage(PageDestinations, GridKind::Destination, QStringLiteral("dbgDestination"),
                       QStringLiteral("btnApplyDest"), QStringLiteral("btnCancelDest")),
        captions[3]);
    m_tabs->addTab(buildNameSetPage(), captions[4]);
    setCentralWidget(m_tabs);
    buildMenus();
    connect(m_tabs, &QTabWidget::currentChanged, this, &XelCfg::onCurrentChanged);
    m_views[PageLevels]->setItemDelegateForColumn(7, new ControllerDelegate(m_db, this));
    statusBar()->showMessage(QStringLiteral("Edit a cell to change it; Apply writes the page to the database."));
    resize(980, 640);
    updateCaption();
}

XelCfg::~XelCfg() = default;

QWidget *XelCfg::buildGridPage(
    Page p, GridKind kind, const QString &gridName, const QString &applyName, const QString &cancelName)
{
    auto *w = new QWidget(this);
    auto *page = new XelCfgGridPage(kind, m_db, m_dialogs, this);
    m_pages[p] = page;
    auto *view = new QTableView(w);
    view->setObjectName(gridName);
    view->setModel(page->model());
    m_views[p] = view;
    configureView(view, page);

    auto *btnAddRow = new QPushButton(QStringLiteral("&New Row"), w);
    btnAddRow->setObjectName(gridName + QStringLiteral("_new"));
    auto *btnMark = new QPushButton(QStringLiteral("&Mark Delete"), w);
    btnMark->setObjectName(gridName + QStringLiteral("_mark"));
    btnMark->setToolTip(QStringLiteral("Marks the selected rows for deletion, or unmarks them (Del key)"));
    auto *btnApply = new QPushButton(QStringLiteral("&Apply"), w);
    btnApply->setObjectName(applyName);
    auto *btnCancel = new QPushButton(QStringLiteral("&Cancel"), w);
    btnCancel->setObjectName(cancelName);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnAddRow);
    buttons->addWidget(btnMark);
    buttons->addStretch(1);
    buttons->addWidget(btnApply);
    buttons->addWidget(btnCancel);
    auto *layout = new QVBoxLayout(w);
    layout->addWidget(view, 1);
    layout->addLayout(buttons);

    connect(btnAddRow, &QPushButton::clicked, this, [this, page, view] {
        const int r = page->addRow();
        if (r < 0)
            return; // the page could not be read; addRow said why
        configureView(view, page);
        const QList<int> hidden = page->hiddenColumns();
        int first = 0;
        while (hidden.contains(first))
            ++first;
        view->setCurrentIndex(page->model()->index(r, first));
        view->edit(view->currentIndex());
    });
    auto mark = [page, view] {
        QList<int> rows;
        for (const QModelIndex &i : view->selectionModel()->selectedIndexes())
            if (!rows.contains(i.row()))
                rows << i.row();
        if (rows.isEmpty() && view->currentIndex().isValid())
            rows << view->currentIndex().row();
        for (int r : rows)
            page->toggleDelete(r);
    };
    connect(btnMark, &QPushButton::clicked, this, mark);
    auto *del = new QShortcut(QKeySequence::Delete, view, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, mark);
    connect(btnApply, &QPushButton::clicked, this, [this, p] { applyPage(p); });
    connect(btnCancel, &QPushButton::clicked, this, [this, page, view] {
        page->reload();
        configureView(view, page);
    });
    return w;
}

void XelCfg::configureView(QTableView *view, XelCfgGridPage *page)
{
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    view->horizontalHeader()->setStretchLastSection(page->kind() == GridKind::NameSetList);
    for (int c = 0; c < page->model()->columnCount(); ++c)
        view->setColumnHidden(c, page->hiddenColumns().contains(c));
    view->resizeColumnsToContents();
    for (int c = 0; c < page->model()->columnCount(); ++c)
        if (!view->isColumnHidden(c))
            view->setColumnWidth(c, qMax(view->columnWidth(c) + 16, 96));
}

QWidget *XelCfg::buildNameSetPage()
{
    auto *w = new QWidget(this);
    auto *page = new XelCfgGridPage(GridKind::NameSetList, m_db, m_dialogs, this);
    m_pages[PageNameSets] = page;

    auto *list = new QTableView(w);
    list->setObjectName(QStringLiteral("dbgNameSetList"));
    list->setModel(page->model());
    m_views[PageNameSets] = list;
    configureView(list, page);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->horizontalHeader()->setStretchLastSection(true);

    m_members = new QSqlQueryModel(this);
    m_sources = new QSqlQueryModel(this);
    m_destinations = new QSqlQueryModel(this);
    auto makeList = [w](const QString &name, QSqlQueryModel *model) {
        auto *v = new QTableView(w);
        v->setObjectName(name);
        v->setModel(model);
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->horizontalHeader()->setStretchLastSection(true);
        v->verticalHeader()->setVisible(false);
        v->verticalHeader()->setDefaultSectionSize(v->fontMetrics().height() + 8);
        v->setAlternatingRowColors(true);
        return v;
    };
    m_dbgNameSet = makeList(QStringLiteral("dbgNameSet"), m_members);
    m_dbgNSSources = makeList(QStringLiteral("dbgNSSources"), m_sources);
    m_dbgNSDestinations = makeList(QStringLiteral("dbgNSDestinations"), m_destinations);

    auto *btnNewSet = new QPushButton(QStringLiteral("&New Set"), w);
    auto *btnMark = new QPushButton(QStringLiteral("&Mark Delete"), w);
    auto *btnApply = new QPushButton(QStringLiteral("&Apply"), w);
    btnApply->setObjectName(QStringLiteral("btnApplyNameSet"));
    auto *btnCancel = new QPushButton(QStringLiteral("&Cancel"), w);
    btnCancel->setObjectName(QStringLiteral("btnCancelNameSet"));
    auto *btnAdd = new QPushButton(QStringLiteral("&Add"), w);
    btnAdd->setObjectName(QStringLiteral("btnAdd"));
    btnAdd->setToolTip(QStringLiteral("Adds the selected sources and destinations to the name set"));
    auto *btnDelete = new QPushButton(QStringLiteral("&Delete"), w);
    btnDelete->setObjectName(QStringLiteral("btnDelete"));
    btnDelete->setToolTip(QStringLiteral("Removes the selected members from the name set"));

    auto column = [w](const QString &caption, QWidget *body, QLayout *below) {
        auto *box = new QWidget(w);
        auto *l = new QVBoxLayout(box);
        l->setContentsMargins(0, 0, 0, 0);
        l->addWidget(new QLabel(caption, box));
        l->addWidget(body, 1);
        if (below)
            l->addLayout(below);
        return box;
    };
    auto *setButtons = new QGridLayout;
    setButtons->addWidget(btnNewSet, 0, 0);
    setButtons->addWidget(btnMark, 0, 1);
    setButtons->addWidget(btnApply, 1, 0);
    setButtons->addWidget(btnCancel, 1, 1);
    auto *moveButtons = new QVBoxLayout;
    moveButtons->addStretch(1);
    moveButtons->addWidget(btnAdd);
    moveButtons->addWidget(btnDelete);
    moveButtons->addStretch(1);
    auto *choices = new QWidget(w);
    auto *choiceLayout = new QVBoxLayout(choices);
    choiceLayout->setContentsMargins(0, 0, 0, 0);
    choiceLayout->addWidget(column(QStringLiteral("Sources"), m_dbgNSSources, nullptr), 1);
    choiceLayout->addWidget(column(QStringLiteral("Destinations"), m_dbgNSDestinations, nullptr), 1);

    auto *layout = new QHBoxLayout(w);
    layout->addWidget(column(QStringLiteral("Name sets"), list, setButtons), 3);
    layout->addWidget(column(QStringLiteral("Members of the selected set"), m_dbgNameSet, nullptr), 3);
    layout->addLayout(moveButtons);
    layout->addWidget(choices, 3);

    connect(btnNewSet, &QPushButton::clicked, this, [page, list] {
        const int r = page->addRow();
        if (r < 0)
            return;
        list->setCurrentIndex(page->model()->index(r, 4));
        list->edit(list->currentIndex());
    });
    connect(btnMark, &QPushButton::clicked, this, [page, list] {
        if (list->currentIndex().isValid())
            page->toggleDelete(list->currentIndex().row());
    });
    connect(btnApply, &QPushButton::clicked, this, [this] { applyPage(PageNameSets); });
    connect(btnCancel, &QPushButton::clicked, this, [this, page, list] {
        page->reload();
        configureView(list, page);
        refreshMembers();
    });
    connect(btnAdd, &QPushButton::clicked, this, &XelCfg::btnAdd_Click);
    connect(btnDelete, &QPushButton::clicked, this, &XelCfg::btnDelete_Click);
    connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { refreshMembers(); });
    return w;
}

void XelCfg::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    auto add
        = [this](QMenu *menu, const QString &name, const QString &text, void (XelCfg::*slot)(), QKeySequence key = {}) {
              QAction *a = menu->addAction(text);
              a->setObjectName(name);
              a->setShortcut(key);
              connect(a, &QAction::triggered, this, slot);
              return a;
          };
    add(file, QStringLiteral("mnuFileNew"), QStringLiteral("&New"), &XelCfg::mnuFileNew_Click, QKeySequence::New);
    add(file, QStringLiteral("mnuFileOpen"), QStringLiteral("&Open..."), &XelCfg::mnuFileOpen_Click,
        QKeySequence::Open);
    add(file, QStringLiteral("mnuFileSave"), QStringLiteral("&Save..."), &XelCfg::mnuFileSave_Click,
        QKeySequence::Save);
    add(file, QStringLiteral("mnuFileLDC"), QStringLiteral("Load &Default Configuration"), &XelCfg::mnuFileLDC_Click);
    file->addSeparator();
    QAction *exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, QStringLiteral("mnuHelpContents"), QStringLiteral("&Contents"), &XelCfg::mnuHelpContents_Click,
        QKeySequence::HelpContents);
    add(help, QStringLiteral("mnuHelpAbout"), QStringLiteral("&About..."), &XelCfg::mnuHelpAbout_Click);
}

void XelCfg::startUp()
{
    m_io.LoadStartupConfiguration();
    refreshAll();
    updateCaption();
}

void XelCfg::refreshAll()
{
    QString failure;
    for (int p = 0; p < 5; ++p) {
        if (!m_pages[p]->reload() && failure.isEmpty())
            failure = m_pages[p]->readFailure();
        configureView(m_views[p], m_pages[p]);
    }
    // One box for all pages: they fail together when the database is locked.
    if (!failure.isEmpty())
        m_dialogs.message(failure, MsgIcon::Exclamation, QStringLiteral("Database Error"));
    m_views[PageNameSets]->horizontalHeader()->setStretchLastSection(true);
    refreshMembers();
}

void XelCfg::refreshMembers()
{
    const qint64 set = selectedNameSetId();
    m_members->setQuery(m_db.GrpSetDfnSQL(set), m_db.database());
    m_sources->setQuery(m_db.GrpSetGridEntries(QStringLiteral("SRC")), m_db.database());
    m_destinations->setQuery(m_db.GrpSetGridEntries(QStringLiteral("DST")), m_db.database());
    for (QTableView *v : { m_dbgNameSet, m_dbgNSSources, m_dbgNSDestinations })
        v->setColumnHidden(0, true); // GPID
}

qint64 XelCfg::selectedNameSetId() const
{
    const QModelIndex i = m_views[PageNameSets]->currentIndex();
    return i.isValid() ? m_pages[PageNameSets]->model()->rowId(i.row()) : -1;
}

void XelCfg::updateCaption()
{
    setWindowTitle(applicationTitle() + QStringLiteral(" - ") + m_db.currentTitle());
}

bool XelCfg::applyPage(int p)
{
    const bool ok = m_pages[p]->Apply();
    if (!ok) {
        const int row = m_pages[p]->failedRow();
        if (row >= 0)
            m_views[p]->selectRow(row);
        return false;
    }
    // Other pages follow: cascades, new level columns, renamed members.
    for (int o = 0; o < 5; ++o) {
        if (o != p)
            m_pages[o]->reload();
        configureView(m_views[o], m_pages[o]);
    }
    refreshMembers();
    return p != PageLevels || checkLevelOrder();
}

bool XelCfg::checkLevelOrder()
{
    if (m_db.ValidLevelOrder())
        return true;
    if (m_dialogs.messageBox(
            QStringLiteral("Level Numbers Are Not Consecutive.") + QStringLiteral(" Perform Automatic Reordering?"),
            MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("Level Number Ordering"))
        == MsgAnswer::Yes) {
        if (m_db.UpdateLevelOrdering()) {
            m_pages[PageLevels]->reload();
            configureView(m_views[PageLevels], m_pages[PageLevels]);
            return true;
        }
        return false;
    }
    m_dialogs.message(QStringLiteral("Level numbers must be consecutive."), MsgIcon::Exclamation,
        QStringLiteral("Level Number Ordering"));
    return false;
}

bool XelCfg::leavePageCheck(int p, bool checkOrder)
{
    if (p < 0 || p > PageNameSets)
        return true;
    XelCfgGridPage *page = m_pages[p];
    if (page->model()->hasPendingChanges()) {
        const MsgAnswer a
            = m_dialogs.messageBox(QStringLiteral("Changes on this page have not been applied.\nApply them now?"),
                MsgButtons::YesNoCancel, MsgIcon::Question, applicationTitle());
        if (a == MsgAnswer::Cancel)
            return false;
        if (a == MsgAnswer::Yes) {
            if (!applyPage(p))
                return false;
        } else {
            page->reload();
            configureView(m_views[p], page);
        }
    }
    if (p == PageLevels && checkOrder)
        return checkLevelOrder();
    return true;
}

bool XelCfg::enterPageCheck(int p)
{
    if (p == PageLevels && m_db.Controllers().isEmpty()) {
        m_dialogs.message(
            QStringLiteral("Controllers must be configured before levels."), MsgIcon::Exclamation, applicationTitle());
        return false;
    }
    return true;
}

bool XelCfg::showPage(int p)
{
    if (p == m_tabs->currentIndex())
        return enterPageCheck(p);
    m_tabs->setCurrentIndex(p);
    return m_tabs->currentIndex() == p;
}

void XelCfg::onCurrentChanged(int index)
{
    if (m_switching)
        return;
    m_switching = true;
    const int from = m_currentPage;
    if (!leavePageCheck(from)) {
        m_tabs->setCurrentIndex(from);
    } else if (!enterPageCheck(index)) {
        m_tabs->setCurrentIndex(from == PageLevels ? PageControllers : from);
    }
    m_currentPage = m_tabs->currentIndex();
    m_switching = false;
}

bool XelCfg::keepWork()
{
    // Edits not yet applied on the page first, as when leaving it; then work
    // applied to the database but in no file, which the next start (importing
    // the default configuration again) or the replacement would throw away.
    if (!leavePageCheck(m_tabs->currentIndex(), false))
        return false;
    if (!m_db.hasUnsavedChanges())
        return true;
    switch (m_dialogs.messageBox(
        QStringLiteral("The configuration has changes that have not been saved to a file.\nSave them now?"),
        MsgButtons::YesNoCancel, MsgIcon::Question, applicationTitle())) {
    case MsgAnswer::Yes:
        return saveConfiguration();
    case MsgAnswer::No:
        return true;
    default:
        return false;
    }
}

void XelCfg::showControllersUnlessEntered()
{
    if (!enterPageCheck(m_tabs->currentIndex())) {
        m_switching = true;
        m_tabs->setCurrentIndex(PageControllers);
        m_currentPage = PageControllers;
        m_switching = false;
    }
}

void XelCfg::mnuFileNew_Click()
{
    if (!keepWork())
        return;
    m_db.ReinitDatabase();
    m_db.setCurrent(QStringLiteral("Untitled"), QString());
    m_db.markSaved();
    refreshAll();
    showControllersUnlessEntered();
    updateCaption();
}

void XelCfg::mnuFileOpen_Click()
{
    // The file first: Cancel in the dialog leaves everything as it was,
    // unapplied edits included.
    const QString path = m_io.askFileToOpen();
    if (path.isEmpty() || !keepWork())
        return;
    m_io.LoadConfigurationFile(path);
    refreshAll();
    showControllersUnlessEntered();
    updateCaption();
}

bool XelCfg::saveConfiguration()
{
    const int p = m_tabs->currentIndex();
    if (m_pages[p]->model()->hasPendingChanges() && !applyPage(p))
        return false;
    if (p == PageLevels && !checkLevelOrder())
        return false;
    const bool saved = m_io.ChooseFileToSave();
    updateCaption();
    return saved;
}

void XelCfg::mnuFileSave_Click()
{
    saveConfiguration();
}

void XelCfg::mnuFileLDC_Click()
{
    if (m_dialogs.messageBox(QStringLiteral("Are you sure you want to open the default configuration?"),
            MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("Confirm Load"))
        != MsgAnswer::Yes)
        return;
    if (!keepWork())
        return;
    m_db.LoadDefaultDatabase();
    refreshAll();
    updateCaption();
}

void XelCfg::mnuHelpContents_Click()
{
    HelpWindow::showHelp(shippedFile(QStringLiteral("velmorxel.hlp")));
}

void XelCfg::mnuHelpAbout_Click()
{
    AboutForm about(this);
    about.exec();
}

namespace {
QList<qint64> selectedIds(QTableView *view)
{
    QList<qint64> ids;
    for (const QModelIndex &i : view->selectionModel()->selectedRows(0))
        ids << view->model()->index(i.row(), 0).data().toLongLong();
    return ids;
}
} // namespace

void XelCfg::btnAdd_Click()
{
    const qint64 set = selectedNameSetId();
    if (set < 0) {
        m_dialogs.message(QStringLiteral("Select a stored name set first (apply a new one before adding members)."),
            MsgIcon::Exclamation, applicationTitle());
        return;
    }
    const QList<qint64> ids = selectedIds(m_dbgNSSources) + selectedIds(m_dbgNSDestinations);
    if (!ids.isEmpty() && !m_db.UpdateGrpSetDfnTable(QStringLiteral("Add"), set, ids))
        m_dialogs.message(QStringLiteral("Name Set table update was not successful."), MsgIcon::Exclamation);
    refreshMembers();
}

void XelCfg::btnDelete_Click()
{
    const qint64 set = selectedNameSetId();
    const QList<qint64> ids = selectedIds(m_dbgNameSet);
    if (set >= 0 && !ids.isEmpty() && !m_db.UpdateGrpSetDfnTable(QStringLiteral("Delete"), set, ids))
        m_dialogs.message(QStringLiteral("Name Set table update was not successful."), MsgIcon::Exclamation);
    refreshMembers();
}

void XelCfg::closeEvent(QCloseEvent *event)
{
    if (!keepWork()) {
        event->ignore();
        return;
    }
    HelpWindow::closeHelp();
    event->accept();
}

} // namespace exel
