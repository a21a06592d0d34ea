// Connection book and communication settings windows.
#include "frmconnect.h"

#include "controlfactory.h"
#include "hublinkcore.h"
#include "tolcom32.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace exel {

namespace {
const QString kAppTitle = QStringLiteral("32-Bit Xelvard");
}

frmConnect::frmConnect(SettingsStore &settings, Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , cmbConnect(new QComboBox(this))
    , lblNumber(new QLabel(this))
    , btnNew(new QPushButton(QStringLiteral("&New..."), this))
    , btnEdit(new QPushButton(QStringLiteral("&Edit..."), this))
    , btnDelete(new QPushButton(QStringLiteral("&Delete"), this))
    , btnConnect(new QPushButton(QStringLiteral("C&onnect"), this))
    , btnCancel(new QPushButton(QStringLiteral("&Cancel"), this))
    , m_book(settings, dialogs)
{
    setObjectName(QStringLiteral("frmConnect"));
    setWindowTitle(kAppTitle + QStringLiteral(" Connect"));
    cmbConnect->setMinimumWidth(260);
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Connection:"), this));
    top->addWidget(cmbConnect, 1);
    layout->addLayout(top);
    layout->addWidget(lblNumber);
    auto *edit = new QHBoxLayout;
    edit->addWidget(btnNew);
    edit->addWidget(btnEdit);
    edit->addWidget(btnDelete);
    edit->addStretch();
    layout->addLayout(edit);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnConnect);
    bottom->addWidget(btnCancel);
    layout->addLayout(bottom);
    btnConnect->setDefault(true);

    connect(cmbConnect, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (m_refreshing)
            return;
        m_book.select(i);
        ShowPhoneNumber();
    });
    connect(btnNew, &QPushButton::clicked, this, [this] {
        if (m_book.btnNew_Click())
            refresh();
    });
    connect(btnEdit, &QPushButton::clicked, this, [this] {
        if (m_book.btnEdit_Click())
            refresh();
    });
    connect(btnDelete, &QPushButton::clicked, this, [this] {
        if (m_book.btnDelete_Click())
            refresh();
    });
    connect(btnConnect, &QPushButton::clicked, this, [this] {
        HublinkCore::connectRequested = true;
        accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] {
        HublinkCore::connectRequested = false;
        reject();
    });

    m_book.LoadConnections();
    refresh();
}

void frmConnect::refresh()
{
    m_refreshing = true;
    cmbConnect->clear();
    cmbConnect->addItems(m_book.names());
    cmbConnect->setCurrentIndex(m_book.selected());
    m_refreshing = false;
    ShowPhoneNumber();
}

void frmConnect::ShowPhoneNumber()
{
    lblNumber->setText(m_book.ShowPhoneNumber());
    btnEdit->setEnabled(m_book.selected() >= 0);
    btnDelete->setEnabled(m_book.selected() >= 0);
}

void frmConnect::done(int result)
{
    if (result != QDialog::Accepted)
        HublinkCore::connectRequested = false;
    m_book.writeConnections();
    QDialog::done(result);
}

FormConfig::FormConfig(SettingsStore &settings, QWidget *parent)
    : QDialog(parent)
    , lblRemoteEnable(new QLabel(QStringLiteral("Remote (dial-up modem):"), this))
    , chkRemote(new QCheckBox(QStringLiteral("Enable"), this))
    , lblModtype(new QLabel(QStringLiteral("Modem:"), this))
    , cmbModem(new QComboBox(this))
    , lblModInit(new QLabel(QStringLiteral("Init string:"), this))
    , txtInitString(new QLineEdit(this))
    , lblModHangup(new QLabel(QStringLiteral("Hang-up string:"), this))
    , txtModHangup(new QLineEdit(this))
    , cmdOK(new QPushButton(QStringLiteral("&OK"), this))
    , cmdCancel(new QPushButton(QStringLiteral("&Cancel"), this))
    , lblPortInfo(new QLabel(this))
    , m_form(settings)
{
    setObjectName(QStringLiteral("FormConfig"));
    setWindowTitle(QStringLiteral("Communications"));
    auto *layout = new QVBoxLayout(this);

    auto *ports = new QGroupBox(QStringLiteral("Port"), this);
    auto *group = new QButtonGroup(this);
    // A port the port map sends to a network serial server says where it
    // leads; the buttons then stand one under the other to leave room for it.
    QStringList captions = {"Com1", "Com2", "Com3", "Com4", "Simulator"};
    bool mapped = false;
    for (int i = 0; i < 4; ++i) {
        char where[300] = {};
        if (GetPortTarget(i + 1, where, sizeof where) > 0) {
            captions[i] += QStringLiteral(" \u2192 ") + QString::fromLocal8Bit(where);
            mapped = true;
        }
    }
    QBoxLayout *portLayout = mapped ? static_cast<QBoxLayout *>(new QVBoxLayout(ports)) : new QHBoxLayout(ports);
    for (int i = 0; i < 5; ++i) {
        CommSelect[i] = new QRadioButton(captions[i], ports);
        group->addButton(CommSelect[i], i);
        portLayout->addWidget(CommSelect[i]);
    }
    layout->addWidget(ports);
    char problems[2048] = {};
    if (GetPortMapProblems(problems, sizeof problems) > 0) {
        auto *lblPortMap = new QLabel(QStringLiteral("Port map lines ignored:\n") + QString::fromLocal8Bit(problems).trimmed(), this);
        lblPortMap->setObjectName(QStringLiteral("lblPortMap"));
        lblPortMap->setWordWrap(true);
        layout->addWidget(lblPortMap);
    }
    lblPortInfo->setWordWrap(true);
    lblPortInfo->hide();
    layout->addWidget(lblPortInfo);

    auto *modem = new QGroupBox(QStringLiteral("Modem"), this);
    auto *form = new QGridLayout(modem);
    form->addWidget(lblRemoteEnable, 0, 0);
    form->addWidget(chkRemote, 0, 1);
    form->addWidget(lblModtype, 1, 0);
    form->addWidget(cmbModem, 1, 1);
    form->addWidget(lblModInit, 2, 0);
    form->addWidget(txtInitString, 2, 1);
    form->addWidget(lblModHangup, 3, 0);
    form->addWidget(txtModHangup, 3, 1);
    form->setColumnStretch(1, 1);
    cmbModem->setMinimumWidth(240);
    layout->addWidget(modem);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    cmdOK->setDefault(true);

    // comModemInfo lists the modems and their default strings; it never opens a port.
    comModemInfo = createControl(QStringLiteral("TolLinkware.TolComm"), this);
    if (comModemInfo) {
        comModemInfo->setObjectName(QStringLiteral("comModemInfo"));
        comModemInfo->setVisible(false);
        comModemInfo->setProperty("PortOpen", false);
        comModemInfo->setProperty("FillModemCombo", QVariant::fromValue<QWidget *>(cmbModem));
    }

    m_form.load();
    const int port = m_form.port();
    CommSelect[std::clamp(port, 1, 5) - 1]->setChecked(true);
    const int modemIndex = cmbModem->findText(m_form.modemType());
    if (modemIndex >= 0)
        cmbModem->setCurrentIndex(modemIndex);
    txtInitString->setText(m_form.initString());
    txtModHangup->setText(m_form.hangString());
    SetRemoteEnable();

    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        m_form.CommSelect_Click(id);
        SetRemoteEnable();
    });
    connect(chkRemote, &QCheckBox::clicked, this, [this](bool on) {
        m_form.chkRemote_Click(on);
        SetRemoteEnable();
    });
    connect(cmbModem, &QComboBox::activated, this, &FormConfig::cmbModem_Click);
    connect(cmdOK, &QPushButton::clicked, this, [this] {
        m_form.cmdOK_Click(cmbModem->currentText(), txtInitString->text(), txtModHangup->text());
        accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void FormConfig::SetRemoteEnable()
{
    lblRemoteEnable->setEnabled(m_form.remoteCheckEnabled());
    chkRemote->setEnabled(m_form.remoteCheckEnabled());
    chkRemote->setChecked(m_form.modemEnabled());
    const bool on = m_form.modemFieldsEnabled();
    for (QWidget *w : {static_cast<QWidget *>(lblModtype), static_cast<QWidget *>(cmbModem),
                       static_cast<QWidget *>(lblModInit), static_cast<QWidget *>(txtInitString),
                       static_cast<QWidget *>(lblModHangup), static_cast<QWidget *>(txtModHangup)})
        w->setEnabled(on);
}

void FormConfig::cmbModem_Click(int index)
{
    if (!comModemInfo)
        return;
    // The combo's item value is the modem list entry.
    const QVariant entry = cmbModem->itemData(index);
    comModemInfo->setProperty("ModemIndex", entry.isValid() ? entry.toInt() : index);
    txtInitString->setText(comModemInfo->property("ModemInitCommand").toString());
    txtModHangup->setText(comModemInfo->property("ModemHangUpCommand").toString());
}

void FormConfig::setPortProblem(const QString &text)
{
    lblPortInfo->setText(text);
    lblPortInfo->setVisible(!text.isEmpty());
}

} // namespace exel
