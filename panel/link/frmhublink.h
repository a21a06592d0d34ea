// The hidden link window: hosts the comm control comHublink and the link
// logic, and shows the modem status and connection book while dialing.
#pragma once

#include "hublinkcore.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace exel {

// The small modeless dialog shown while the modem initialises and dials.
class frmModemStat : public QDialog {
    Q_OBJECT
public:
    explicit frmModemStat(QWidget *parent = nullptr);
    QLabel *lblStatus;
    QPushButton *cmdCancel;
signals:
    void cancelled();
};

class frmHublink : public QWidget, public HublinkUi {
    Q_OBJECT
public:
    // Loading the window opens the link (OpenLink); destroying it closes it.
    frmHublink(SettingsStore &settings, Dialogs &dialogs, Clock &clock = SystemClock::instance(),
               QWidget *parent = nullptr);
    ~frmHublink() override;

    HublinkCore &link() { return *m_core; }
    QWidget *comHublink() const { return m_comm; }

    // HublinkUi
    bool showConnectionBook() override;
    QStringList fillModemCombo(QObject *comm) override;
    void showModemStatus(const QString &text) override;
    void setModemStatus(const QString &text) override;
    void closeModemStatus() override;

    // Replaces the connection book (tests answer it by script).
    std::function<bool()> connectionBookOverride;

private:
    SettingsStore &m_settings;
    Dialogs &m_dialogs;
    QWidget *m_comm = nullptr;
    QComboBox *m_modemCombo = nullptr;
    // Parented to the main window, which may go first.
    QPointer<frmModemStat> m_modemStat;
    std::unique_ptr<HublinkCore> m_core;
};

} // namespace exel
