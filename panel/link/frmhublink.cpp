// The hidden link window.
#include "frmhublink.h"

#include "controlfactory.h"
#include "frmconnect.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace exel {

namespace {
const QString kProgId = QStringLiteral("TolLinkware.TolComm");
}

frmModemStat::frmModemStat(QWidget *parent)
    : QDialog(parent)
    , lblStatus(new QLabel(this))
    , cmdCancel(new QPushButton(QStringLiteral("&Cancel"), this))
{
    setWindowTitle(QStringLiteral("Modem"));
    setModal(false);
    auto *layout = new QVBoxLayout(this);
    lblStatus->setMinimumWidth(280);
    lblStatus->setAlignment(Qt::AlignCenter);
    layout->addWidget(lblStatus);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdCancel);
    row->addStretch();
    layout->addLayout(row);
    connect(cmdCancel, &QPushButton::clicked, this, &frmModemStat::cancelled);
}

frmHublink::frmHublink(SettingsStore &settings, Dialogs &dialogs, Clock &clock, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmHublink"));
    m_comm = createControl(kProgId, this);
    if (m_comm)
        m_comm->setObjectName(QStringLiteral("comHublink"));
    m_modemCombo = new QComboBox(this);
    m_modemCombo->hide();
    m_core = std::make_unique<HublinkCore>(m_comm, settings, dialogs, clock, this);
    if (!m_comm)
        m_dialogs.message(QStringLiteral("Serial COM Port Error.\nThe comm control ") + kProgId
                              + QStringLiteral(" is not available."),
                          MsgIcon::Exclamation);
    m_core->OpenLink();
    hide();
}

frmHublink::~frmHublink()
{
    closeModemStatus();
    m_core->CloseLink();
}

bool frmHublink::showConnectionBook()
{
    if (connectionBookOverride)
        return connectionBookOverride();
    frmConnect book(m_settings, m_dialogs, window());
    book.exec();
    return HublinkCore::connectRequested;
}

QStringList frmHublink::fillModemCombo(QObject *comm)
{
    m_modemCombo->clear();
    if (comm)
        comm->setProperty("FillModemCombo", QVariant::fromValue<QWidget *>(m_modemCombo));
    QStringList names;
    for (int i = 0; i < m_modemCombo->count(); ++i)
        names << m_modemCombo->itemText(i);
    return names;
}

void frmHublink::showModemStatus(const QString &text)
{
    if (!m_modemStat) {
        m_modemStat = new frmModemStat(window());
        connect(m_modemStat, &frmModemStat::cancelled, this, [this] { m_core->cancelModemStat(); });
    }
    m_modemStat->lblStatus->setText(text);
    m_modemStat->show();
}

void frmHublink::setModemStatus(const QString &text)
{
    if (m_modemStat)
        m_modemStat->lblStatus->setText(text);
}

void frmHublink::closeModemStatus()
{
    if (m_modemStat) {
        m_modemStat->hide();
        m_modemStat->deleteLater();
        m_modemStat = nullptr;
    }
}

} // namespace exel
