// The main window's widgets and menus, and painting them from the key-bank state.
#include "clicklabel.h"
#include "frmabout.h"
#include "xelform.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

namespace exel {

namespace {

QString rgb(uint32_t c)
{
    return QStringLiteral("#%1").arg(c, 6, 16, QLatin1Char('0'));
}

// Status text while the link is offline: the rows hold the last known state.
constexpr uint32_t kRgbStale = 0x808080;

QString textRgb(TextColour c)
{
    switch (c) {
    case TextColour::LightBlue:
        return rgb(kRgbLightBlue);
    case TextColour::LightRed:
        return rgb(kRgbLightRed);
    default:
        return rgb(kRgbBlack);
    }
}

QPixmap lockPixmap(int h)
{
    QPixmap pm(h, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(160, 0, 0), h / 8.0);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(h * 0.28, h * 0.08, h * 0.44, h * 0.5), 0, 180 * 16);
    p.drawLine(QPointF(h * 0.28, h * 0.33), QPointF(h * 0.28, h * 0.45));
    p.drawLine(QPointF(h * 0.72, h * 0.33), QPointF(h * 0.72, h * 0.45));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawRoundedRect(QRectF(h * 0.18, h * 0.42, h * 0.64, h * 0.5), h * 0.08, h * 0.08);
    return pm;
}

QGroupBox *panel(const QString &title, QWidget *parent)
{
    auto *box = new QGroupBox(title, parent);
    return box;
}

QPushButton *key(QWidget *parent)
{
    auto *b = new QPushButton(parent);
    b->setMinimumSize(86, 38);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    return b;
}

} // namespace

void XelForm::buildWidgets()
{
    setWindowIcon(QIcon(productPixmap(64)));
    imgLockPic = new QPixmap(lockPixmap(18));
    framMainPanel = new QFrame(this);
    framMainPanel->setObjectName(QStringLiteral("framMainPanel"));
    setCentralWidget(framMainPanel);
    auto *main = new QHBoxLayout(framMainPanel);

    // Left: name set chooser, then the two key banks (their order is swappable).
    auto *left = new QVBoxLayout;
    auto *top = new QHBoxLayout;
    auto *nameSetLabel = new QLabel(QStringLiteral("Name Set"), framMainPanel);
    cmbSystem = new QComboBox(framMainPanel);
    cmbSystem->setObjectName(QStringLiteral("cmbSystem"));
    cmbSystem->setMinimumWidth(180);
    nameSetLabel->setBuddy(cmbSystem);
    top->addWidget(nameSetLabel);
    top->addWidget(cmbSystem);
    top->addStretch();
    left->addLayout(top);
    m_bankColumn = new QVBoxLayout;
    left->addLayout(m_bankColumn, 1);

    framDest = panel(QStringLiteral("Destinations"), framMainPanel);
    framDest->setObjectName(QStringLiteral("framDest"));
    auto *destGrid = new QGridLayout(framDest);
    for (int i = 0; i < KeyBanks::kDestKeys; ++i) {
        btnDestination[static_cast<size_t>(i)] = key(framDest);
        btnDestination[static_cast<size_t>(i)]->setObjectName(QStringLiteral("btnDestination%1").arg(i));
        destGrid->addWidget(btnDestination[static_cast<size_t>(i)], i / 8, i % 8);
        connect(btnDestination[static_cast<size_t>(i)], &QPushButton::clicked, this, [this, i] {
            m_banks.btnDestination_Click(i);
            paintAll();
        });
    }
    scrlDestination = new QScrollBar(Qt::Horizontal, framDest);
    destGrid->addWidget(scrlDestination, 2, 0, 1, 8);

    framSource = panel(QStringLiteral("Sources"), framMainPanel);
    framSource->setObjectName(QStringLiteral("framSource"));
    auto *srcGrid = new QGridLayout(framSource);
    for (int i = 0; i < KeyBanks::kSourceKeys; ++i) {
        btnSource[static_cast<size_t>(i)] = key(framSource);
        btnSource[static_cast<size_t>(i)]->setObjectName(QStringLiteral("btnSource%1").arg(i));
        srcGrid->addWidget(btnSource[static_cast<size_t>(i)], i / 8, i % 8);
        connect(btnSource[static_cast<size_t>(i)], &QPushButton::clicked, this, [this, i] { btnSource_Click(i); });
    }
    scrlSource = new QScrollBar(Qt::Horizontal, framSource);
    srcGrid->addWidget(scrlSource, 2, 0, 1, 8);
    // Destinations below sources unless the stored setting says otherwise.
    m_bankColumn->addWidget(framSource, 1);
    m_bankColumn->addWidget(framDest, 1);

    // Status rows under the banks.
    QGroupBox *status = panel(QStringLiteral("Status"), framMainPanel);
    m_statusPanel = status;
    auto *statusGrid = new QGridLayout(status);
    statusGrid->setHorizontalSpacing(10);
    auto *destHeader = new QLabel(QStringLiteral("Destination"), status);
    QFont headerFont = destHeader->font();
    headerFont.setBold(true);
    destHeader->setFont(headerFont);
    statusGrid->addWidget(destHeader, 0, 0, 1, 2);
    for (int c = 0; c < KeyBanks::kStatusColumns; ++c) {
        m_statusHeader[static_cast<size_t>(c)] = new QLabel(status);
        m_statusHeader[static_cast<size_t>(c)]->setFont(headerFont);
        statusGrid->addWidget(m_statusHeader[static_cast<size_t>(c)], 0, c + 2);
    }
    for (int r = 0; r < KeyBanks::kStatusRows; ++r) {
        auto *lock = new QLabel(status);
        lock->setFixedSize(20, 20);
        lock->setObjectName(QStringLiteral("imgLock%1").arg(r));
        m_lockPicture[static_cast<size_t>(r)] = lock;
        statusGrid->addWidget(lock, r + 1, 0);
        auto *row = new ClickLabel(status);
        row->setObjectName(QStringLiteral("LabelDstStatus%1").arg(r));
        row->setMinimumWidth(110);
        row->setCursor(Qt::PointingHandCursor);
        row->setFrameShape(QFrame::StyledPanel);
        LabelDstStatus[static_cast<size_t>(r)] = row;
        statusGrid->addWidget(row, r + 1, 1);
        connect(row, &ClickLabel::clicked, this, [this, r] {
            m_banks.LabelDstStatus_Click(r);
            paintAll();
        });
        for (int c = 0; c < KeyBanks::kStatusColumns; ++c) {
            auto *cell = new QLabel(status);
            cell->setObjectName(QStringLiteral("LabelSrcStatus%1").arg(r * 4 + c));
            cell->setMinimumWidth(90);
            cell->setFrameShape(QFrame::StyledPanel);
            LabelSrcStatus[static_cast<size_t>(r * 4 + c)] = cell;
            statusGrid->addWidget(cell, r + 1, c + 2);
        }
    }
    scrlDestStatus = new QScrollBar(Qt::Horizontal, status);
    statusGrid->addWidget(scrlDestStatus, KeyBanks::kStatusRows + 1, 0, 1, KeyBanks::kStatusColumns + 2);
    statusGrid->setColumnStretch(1, 2);
    for (int c = 0; c < KeyBanks::kStatusColumns; ++c)
        statusGrid->setColumnStretch(c + 2, 1);
    left->addWidget(status);
    main->addLayout(left, 3);

    // Right: levels, locks, salvos.
    auto *right = new QVBoxLayout;
    auto *levels = panel(QStringLiteral("Levels"), framMainPanel);
    auto *levGrid = new QGridLayout(levels);
    for (int i = 0; i < KeyBanks::kLevelKeys; ++i) {
        btnLevel[static_cast<size_t>(i)] = key(levels);
        btnLevel[static_cast<size_t>(i)]->setObjectName(QStringLiteral("btnLevel%1").arg(i));
        levGrid->addWidget(btnLevel[static_cast<size_t>(i)], i / 2, i % 2);
        connect(btnLevel[static_cast<size_t>(i)], &QPushButton::clicked, this, [this, i] {
            m_banks.btnLevel_Click(i);
            paintAll();
        });
    }
    scrlLevel = new QScrollBar(Qt::Horizontal, levels);
    levGrid->addWidget(scrlLevel, 2, 0, 1, 2);
    btnSelectAll = new QPushButton(QStringLiteral("Select All"), levels);
    btnClearAll = new QPushButton(QStringLiteral("Clear All"), levels);
    levGrid->addWidget(btnSelectAll, 3, 0);
    levGrid->addWidget(btnClearAll, 3, 1);
    btnGang = new QRadioButton(QStringLiteral("Gang"), levels);
    btnSingle = new QRadioButton(QStringLiteral("Single"), levels);
    btnSingle->setChecked(true);
    levGrid->addWidget(btnGang, 4, 0);
    levGrid->addWidget(btnSingle, 4, 1);
    connect(btnSelectAll, &QPushButton::clicked, this, [this] {
        m_banks.btnSelectAll_Click();
        paintAll();
    });
    connect(btnClearAll, &QPushButton::clicked, this, [this] {
        m_banks.btnClearAll_Click();
        paintAll();
    });
    connect(btnGang, &QRadioButton::clicked, this, [this] {
        m_banks.btnGang_Click();
        paintAll();
    });
    connect(btnSingle, &QRadioButton::clicked, this, [this] {
        m_banks.btnSingle_Click();
        paintAll();
    });
    right->addWidget(levels);

    auto *locks = panel(QStringLiteral("Locks"), framMainPanel);
    auto *lockRow = new QHBoxLayout(locks);
    btnLock = new QPushButton(QStringLiteral("&Lock"), locks);
    btnUnlock = new QPushButton(QStringLiteral("&Unlock"), locks);
    btnLock->setIcon(QIcon(*imgLockPic));
    for (QPushButton *b : { btnLock, btnUnlock }) {
        b->setMinimumHeight(34);
        lockRow->addWidget(b);
    }
    connect(btnLock, &QPushButton::clicked, this, &XelForm::btnLock_Click);
    connect(btnUnlock, &QPushButton::clicked, this, &XelForm::btnUnlock_Click);
    right->addWidget(locks);

    auto *salvo = panel(QStringLiteral("Salvo"), framMainPanel);
    auto *salvoLayout = new QVBoxLayout(salvo);
    cmbPreset = new QComboBox(salvo);
    cmbPreset->setObjectName(QStringLiteral("cmbPreset"));
    cmbPreset->setMinimumWidth(160);
    salvoLayout->addWidget(cmbPreset);
    btnTakePreset = new QPushButton(QStringLiteral("&Take Salvo"), salvo);
    btnPreset = new QPushButton(QStringLiteral("&Edit Salvos..."), salvo);
    salvoLayout->addWidget(btnTakePreset);
    salvoLayout->addWidget(btnPreset);
    connect(btnTakePreset, &QPushButton::clicked, this, &XelForm::btnTakePreset_Click);
    connect(btnPreset, &QPushButton::clicked, this, &XelForm::btnPreset_Click);
    right->addWidget(salvo);
    right->addStretch();
    main->addLayout(right, 1);

    connect(cmbSystem, &QComboBox::activated, this, &XelForm::cmbSystem_Click);
    connect(scrlDestination, &QScrollBar::valueChanged, this, [this](int v) {
        if (m_painting)
            return;
        m_banks.scrlDestination_Scroll(v);
        paintAll();
    });
    connect(scrlSource, &QScrollBar::valueChanged, this, [this](int v) {
        if (m_painting)
            return;
        m_banks.scrlSource_Scroll(v);
        paintAll();
    });
    connect(scrlLevel, &QScrollBar::valueChanged, this, [this](int v) {
        if (m_painting)
            return;
        m_banks.scrlLevel_Scroll(v);
        paintAll();
    });
    connect(scrlDestStatus, &QScrollBar::valueChanged, this, [this](int v) {
        if (m_painting)
            return;
        m_banks.scrlDestStatus_Scroll(v);
        paintAll();
    });
    resize(1180, 760);
}

void XelForm::buildMenus()
{
    auto add = [this](QMenu *menu, const char *name, const QString &caption, std::function<void()> slot) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        m_actions.insert(a->objectName(), a);
        return a;
    };
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    add(file, "mnuFileOpen", QStringLiteral("&Open..."), [this] { mnuFileOpen_Click(); });
    add(file, "mnuFileDefault", QStringLiteral("&Default"), [this] { mnuFileDefault_Click(); });
    file->addSeparator()->setObjectName(QStringLiteral("mnuline1"));
    add(file, "mnuAutoLoad", QStringLiteral("R720/R740 &Config AutoLoad"), [this] {
        mnuAutoLoad_Click();
    })->setCheckable(true);
    add(file, "mnuForceLoad", QStringLiteral("&Force Load"), [this] { mnuForceLoad_Click(); })->setVisible(false);
    file->addSeparator()->setObjectName(QStringLiteral("mnuline2"));
    add(file, "mnuFileExit", QStringLiteral("E&xit"), [this] { close(); });

    QMenu *cfg = menuBar()->addMenu(QStringLiteral("&Configure"));
    cfg->setObjectName(QStringLiteral("mnuCfg"));
    add(cfg, "mnuSrcDstSwap", QStringLiteral("&Src/Dest Swap"), [this] { mnuSrcDstSwap_Click(); });
    add(cfg, "mnuLocalLock", QStringLiteral("&Local Locking Only"), [this] {
        mnuLocalLock_Click();
    })->setCheckable(true);
    cfg->addSeparator()->setObjectName(QStringLiteral("mnuline3"));
    add(cfg, "mnuCfgSettings", QStringLiteral("&Communications..."), [this] { mnuCfgSettings_Click(); });
    cfg->addSeparator()->setObjectName(QStringLiteral("mnuline4"));
    add(cfg, "mnuCallRemote", QStringLiteral("Call &Remote..."), [this] { mnuCallRemote_Click(); });
    add(cfg, "mnuHangup", QStringLiteral("&Hangup"), [this] { mnuHangup_Click(); });

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    add(help, "mnuContents", QStringLiteral("&Contents..."), [this] { mnuContents_Click(); });
    help->addSeparator()->setObjectName(QStringLiteral("mnuline5"));
    add(help, "mnuAbout", QStringLiteral("&About..."), [this] { mnuAbout_Click(); });
}

QAction *XelForm::action(const QString &name) const
{
    return m_actions.value(name);
}

QLabel *XelForm::statusRow(int i) const
{
    return LabelDstStatus[static_cast<size_t>(i)];
}

QLabel *XelForm::statusSource(int i) const
{
    return LabelSrcStatus[static_cast<size_t>(i)];
}

void XelForm::paintKey(QPushButton *button, const KeyState &state, bool lockColour)
{
    if (button->text() != state.caption)
        button->setText(state.caption);
    if (button->isEnabled() != state.enabled)
        button->setEnabled(state.enabled);
    QString style;
    switch (state.colour) {
    case KeyColour::Selected:
        style = QStringLiteral("background-color: %1;").arg(rgb(kRgbSelected));
        break;
    case KeyColour::Unselected:
        style = QStringLiteral("background-color: %1;").arg(rgb(kRgbUnselected));
        break;
    case KeyColour::ButtonFace:
        break;
    }
    if (lockColour && !state.caption.isEmpty())
        style += QStringLiteral("color: %1;").arg(textRgb(state.text));
    else if (state.colour != KeyColour::ButtonFace && state.enabled)
        style += QStringLiteral("color: #000000;");
    if (!style.isEmpty())
        style = QStringLiteral("QPushButton { %1 border: 1px solid #707070; border-radius: 3px; }").arg(style);
    if (button->styleSheet() != style)
        button->setStyleSheet(style);
}

void XelForm::paintScroll(QScrollBar *bar, const ScrollState &state)
{
    bar->setRange(0, std::max(0, state.maximum));
    bar->setPageStep(std::max(1, state.largeChange));
    bar->setValue(state.value);
    bar->setEnabled(state.enabled);
    bar->setVisible(state.visible);
}

void XelForm::paintAll()
{
    m_painting = true;
    for (int i = 0; i < KeyBanks::kDestKeys; ++i)
        paintKey(btnDestination[static_cast<size_t>(i)], m_banks.destinationKeys()[static_cast<size_t>(i)], true);
    for (int i = 0; i < KeyBanks::kSourceKeys; ++i)
        paintKey(btnSource[static_cast<size_t>(i)], m_banks.sourceKeys()[static_cast<size_t>(i)], false);
    for (int i = 0; i < KeyBanks::kLevelKeys; ++i)
        paintKey(btnLevel[static_cast<size_t>(i)], m_banks.levelKeys()[static_cast<size_t>(i)], false);
    paintScroll(scrlDestination, m_banks.destinationScroll());
    paintScroll(scrlSource, m_banks.sourceScroll());
    paintScroll(scrlLevel, m_banks.levelScroll());
    paintScroll(scrlDestStatus, m_banks.statusScroll());
    btnGang->setChecked(m_banks.gang());
    btnSingle->setChecked(!m_banks.gang());
    if (cmbSystem->currentIndex() != m_banks.currentNameSet() && m_banks.currentNameSet() < cmbSystem->count())
        cmbSystem->setCurrentIndex(m_banks.currentNameSet());
    for (int c = 0; c < KeyBanks::kStatusColumns; ++c)
        if (m_statusHeader[static_cast<size_t>(c)]->text() != m_banks.levelKeys()[static_cast<size_t>(c)].caption)
            m_statusHeader[static_cast<size_t>(c)]->setText(m_banks.levelKeys()[static_cast<size_t>(c)].caption);
    // Offline, the rows keep what the controller last reported: greyed, and
    // the panel's title says so, so nobody takes them for live.
    const QString statusTitle
        = m_statusStale ? QStringLiteral("Status (last known, offline)") : QStringLiteral("Status");
    if (m_statusPanel->title() != statusTitle)
        m_statusPanel->setTitle(statusTitle);
    const QString rowStyle = m_statusStale ? QStringLiteral("color: %1;").arg(rgb(kRgbStale)) : QString();
    for (int r = 0; r < KeyBanks::kStatusRows; ++r) {
        const StatusRow &row = m_banks.statusRows()[static_cast<size_t>(r)];
        if (LabelDstStatus[static_cast<size_t>(r)]->text() != row.caption)
            LabelDstStatus[static_cast<size_t>(r)]->setText(row.caption);
        if (LabelDstStatus[static_cast<size_t>(r)]->styleSheet() != rowStyle)
            LabelDstStatus[static_cast<size_t>(r)]->setStyleSheet(rowStyle);
        QLabel *lock = m_lockPicture[static_cast<size_t>(r)];
        if (lock->property("locked").toBool() != row.lockPicture) {
            lock->setPixmap(row.lockPicture ? *imgLockPic : QPixmap());
            lock->setProperty("locked", row.lockPicture);
        }
        for (int c = 0; c < KeyBanks::kStatusColumns; ++c) {
            QLabel *cell = LabelSrcStatus[static_cast<size_t>(r * 4 + c)];
            const StatusCell &s = row.sources[static_cast<size_t>(c)];
            // Timer1 asks for a repaint on every answer: touch only what
            // changed, a style sheet change re-polishes the label.
            if (cell->text() != s.caption)
                cell->setText(s.caption);
            const QString style = QStringLiteral("color: %1;").arg(m_statusStale ? rgb(kRgbStale) : textRgb(s.text));
            if (cell->styleSheet() != style)
                cell->setStyleSheet(style);
        }
    }
    m_painting = false;
}

void XelForm::UpdateAllStatus()
{
    m_banks.UpdateAllStatus();
    paintAll();
}

} // namespace exel
