// The salvo editor and its save and delete dialogs.
#include "frmpreset.h"

#include "xelform.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace exel {

frmPreSv::frmPreSv(
    const QString &folder, const SalvoTable &table, const StatandConfig &model, Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , lstPreset(new QListWidget(this))
    , txtPreset(new QLineEdit(this))
    , cmdOK(new QPushButton(QStringLiteral("&OK"), this))
    , cmdCancel(new QPushButton(QStringLiteral("&Cancel"), this))
{
    setObjectName(QStringLiteral("frmPreSv"));
    setWindowTitle(QStringLiteral(" Salvo Save"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Salvo name:"), this));
    layout->addWidget(txtPreset);
    // No length limit here: a name clicked in the list is saved as listed
    // (the save checks the name rule, and accepts the names the folder holds).
    layout->addWidget(lstPreset);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    lstPreset->addItems(listSalvoNames(folder));
    connect(lstPreset, &QListWidget::currentTextChanged, txtPreset, &QLineEdit::setText);
    connect(cmdOK, &QPushButton::clicked, this, [=, this, &table, &model, &dialogs] {
        const QString name = txtPreset->text();
        if (DoPresetSave(name, table, folder, model, dialogs)) {
            m_saved = name;
            accept();
        }
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    cmdOK->setDefault(true);
}

frmPredl::frmPredl(const QString &folder, Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , lstPreset(new QListWidget(this))
    , cmdDelete(new QPushButton(QStringLiteral("&Delete"), this))
    , cmdOK(new QPushButton(QStringLiteral("&OK"), this))
    , m_folder(folder)
{
    setObjectName(QStringLiteral("frmPredl"));
    setWindowTitle(QStringLiteral(" Salvo Delete"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lstPreset);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdDelete);
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    layout->addLayout(buttons);
    fill();
    connect(cmdDelete, &QPushButton::clicked, this, [this, &dialogs] {
        if (!lstPreset->currentItem())
            return;
        DoPresetDelete(lstPreset->currentItem()->text(), m_folder, dialogs);
        fill();
    });
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

void frmPredl::fill()
{
    lstPreset->clear();
    lstPreset->addItems(listSalvoNames(m_folder));
}

frmPreset::frmPreset(XelForm &main)
    : QDialog(&main)
    , grdPreset(new QTableWidget(this))
    , listSource(new QListWidget(this))
    , listDestination(new QListWidget(this))
    , PresetFileList(new QComboBox(this))
    , m_main(main)
    , m_hint(new QLabel(this))
{
    setObjectName(QStringLiteral("frmPreset"));
    setWindowTitle(QStringLiteral("Salvo Editor"));
    setModal(false);
    auto *layout = new QVBoxLayout(this);

    auto *files = new QHBoxLayout;
    files->addWidget(new QLabel(QStringLiteral("Stored salvo:"), this));
    PresetFileList->setMinimumWidth(200);
    files->addWidget(PresetFileList);
    auto *load = new QPushButton(QStringLiteral("&Load"), this);
    auto *save = new QPushButton(QStringLiteral("&Save..."), this);
    auto *del = new QPushButton(QStringLiteral("&Delete..."), this);
    files->addWidget(load);
    files->addWidget(save);
    files->addWidget(del);
    files->addStretch();
    layout->addLayout(files);

    auto *middle = new QHBoxLayout;
    grdPreset->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grdPreset->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdPreset->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    grdPreset->setMinimumWidth(420);
    middle->addWidget(grdPreset, 3);
    auto *lists = new QVBoxLayout;
    lists->addWidget(new QLabel(QStringLiteral("Sources (double-click to fill the selected cells)"), this));
    lists->addWidget(listSource, 2);
    lists->addWidget(new QLabel(QStringLiteral("Destinations (click to find the row)"), this));
    lists->addWidget(listDestination, 1);
    middle->addLayout(lists, 1);
    layout->addLayout(middle, 1);
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);

    auto *buttons = new QHBoxLayout;
    auto *takeAll = new QPushButton(QStringLiteral("&Take All"), this);
    auto *takeSel = new QPushButton(QStringLiteral("Take Selected"), this);
    auto *clearAll = new QPushButton(QStringLiteral("Clear All"), this);
    auto *clearSel = new QPushButton(QStringLiteral("Clear Selected"), this);
    auto *status = new QPushButton(QStringLiteral("Status"), this);
    auto *closeButton = new QPushButton(QStringLiteral("Close"), this);
    for (QPushButton *b : { takeAll, takeSel, clearAll, clearSel, status })
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    connect(load, &QPushButton::clicked, this, [this] { loadPreset(PresetFileList->currentText()); });
    connect(save, &QPushButton::clicked, this, &frmPreset::savePreset);
    connect(del, &QPushButton::clicked, this, &frmPreset::deletePreset);
    connect(takeAll, &QPushButton::clicked, this, &frmPreset::TakeAllPreset_Click);
    connect(takeSel, &QPushButton::clicked, this, &frmPreset::TakeSelectedPreset_Click);
    connect(clearAll, &QPushButton::clicked, this, &frmPreset::ClearAllPreset);
    connect(clearSel, &QPushButton::clicked, this, &frmPreset::ClearSelectedPreset);
    connect(status, &QPushButton::clicked, this, &frmPreset::StatusPreset);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(listSource, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem *item) { fillSelected(item->data(Qt::UserRole).toInt()); });
    connect(listDestination, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        const int row = item->data(Qt::UserRole).toInt();
        grdPreset->setCurrentCell(row, 0);
        grdPreset->selectRow(row);
    });
    resize(900, 620);
}

void frmPreset::refreshSystem()
{
    m_table = SalvoTable::forSystem(m_main.model());
    refreshLists();
    refreshFileList();
    paintGrid();
}

void frmPreset::refreshLists()
{
    const StatandConfig &m = m_main.model();
    listSource->clear();
    listDestination->clear();
    const int set = m_main.banks().currentNameSet();
    for (const ListEntry &e : m.NameSetSourceList(set)) {
        auto *item = new QListWidgetItem(m.SourceName(e.index), listSource);
        item->setData(Qt::UserRole, int(e.index));
    }
    for (const ListEntry &e : m.NameSetDestinationList(set)) {
        auto *item = new QListWidgetItem(m.DestinationName(e.index), listDestination);
        item->setData(Qt::UserRole, int(e.index));
    }
}

void frmPreset::refreshFileList()
{
    const QString current = PresetFileList->currentText();
    PresetFileList->clear();
    PresetFileList->addItems(listSalvoNames(m_main.programFolder()));
    const int keep = PresetFileList->findText(current);
    if (keep >= 0)
        PresetFileList->setCurrentIndex(keep);
}

void frmPreset::paintGrid()
{
    const StatandConfig &m = m_main.model();
    grdPreset->clear();
    grdPreset->setRowCount(m_table.rows());
    grdPreset->setColumnCount(m_table.levelColumns());
    QStringList levels;
    for (int16_t l : m_table.levels)
        levels << m.LevelName(l);
    grdPreset->setHorizontalHeaderLabels(levels);
    QStringList rows;
    int routes = 0;
    for (int r = 0; r < m_table.rows(); ++r) {
        const int dst = m_table.at(r, 0);
        rows << m.DestinationName(dst);
        for (int c = 1; c <= m_table.levelColumns(); ++c) {
            const int src = m_table.at(r, c);
            auto *item = new QTableWidgetItem(src == -1 ? QString() : m.SourceName(src));
            const int level = m_table.levels[static_cast<size_t>(c - 1)];
            if (src != -1) {
                item->setBackground(QColor(0x00, 0xFF, 0x00));
                ++routes;
            } else if (!m.DestinationOnLevel(dst, level)) {
                item->setBackground(QColor(0xE0, 0xE0, 0xE0)); // no such output on this level
            }
            grdPreset->setItem(r, c - 1, item);
        }
    }
    grdPreset->setVerticalHeaderLabels(rows);
    m_hint->setText(QStringLiteral("%1 route(s) set. Select cells, then double-click a source to route it; "
                                   "grey cells are levels the destination does not have.")
                        .arg(routes));
}

void frmPreset::fillSelected(int source)
{
    const StatandConfig &m = m_main.model();
    for (QTableWidgetItem *item : grdPreset->selectedItems()) {
        const int r = item->row();
        const int c = item->column() + 1;
        const int level = m_table.levels[static_cast<size_t>(c - 1)];
        // Only routes the router can make: both ends present on the level.
        if (m.SourceOnLevel(source, level) && m.DestinationOnLevel(m_table.at(r, 0), level))
            m_table.set(r, c, static_cast<int16_t>(source));
    }
    paintGrid();
}

void frmPreset::loadPreset(const QString &name)
{
    if (name.isEmpty())
        return;
    SalvoTable t;
    if (!isUsableSalvoName(name, m_main.programFolder())
        || !LoadPresetFile(salvoPath(m_main.programFolder(), name), m_main.model(), t)) {
        m_main.dialogs().message(QStringLiteral("Cannot Load Salvo ") + name + QStringLiteral(".  File Format Error!"));
        return;
    }
    m_table = t;
    paintGrid();
}

void frmPreset::ClearAllPreset()
{
    m_table = SalvoTable::forSystem(m_main.model());
    paintGrid();
}

void frmPreset::ClearSelectedPreset()
{
    for (QTableWidgetItem *item : grdPreset->selectedItems())
        m_table.set(item->row(), item->column() + 1, -1);
    paintGrid();
}

void frmPreset::StatusPreset()
{
    const StatandConfig &m = m_main.model();
    for (int r = 0; r < m_table.rows(); ++r) {
        const int dst = m_table.at(r, 0);
        for (int c = 1; c <= m_table.levelColumns(); ++c)
            m_table.set(r, c, m.Status(m_table.levels[static_cast<size_t>(c - 1)], dst).source);
    }
    paintGrid();
}

void frmPreset::TakeAllPreset_Click()
{
    m_main.takeSalvoBlock(m_table, 0, 1, m_table.rows() - 1, m_table.levelColumns());
}

void frmPreset::TakeSelectedPreset_Click()
{
    const QList<QTableWidgetSelectionRange> ranges = grdPreset->selectedRanges();
    if (ranges.isEmpty())
        return;
    const QTableWidgetSelectionRange &s = ranges.first();
    m_main.takeSalvoBlock(m_table, s.topRow(), s.leftColumn() + 1, s.bottomRow(), s.rightColumn() + 1);
}

void frmPreset::savePreset()
{
    frmPreSv dlg(m_main.programFolder(), m_table, m_main.model(), m_main.dialogs(), this);
    if (dlg.exec() == QDialog::Accepted) {
        m_main.InitPresets();
        refreshFileList();
        PresetFileList->setCurrentText(dlg.savedName());
    }
}

void frmPreset::deletePreset()
{
    frmPredl dlg(m_main.programFolder(), m_main.dialogs(), this);
    dlg.exec();
    m_main.InitPresets();
    refreshFileList();
}

} // namespace exel
