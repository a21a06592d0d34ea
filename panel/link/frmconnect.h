// The connection book window and the communication settings dialog.
#pragma once

#include "connectionbook.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace exel {

class frmConnect : public QDialog {
    Q_OBJECT
public:
    frmConnect(SettingsStore &settings, Dialogs &dialogs, QWidget *parent = nullptr);

    QComboBox *cmbConnect;
    QLabel *lblNumber;
    QPushButton *btnNew;
    QPushButton *btnEdit;
    QPushButton *btnDelete;
    QPushButton *btnConnect;
    QPushButton *btnCancel;

    ConnectionBook &book() { return m_book; }

protected:
    void done(int result) override; // Form_Unload: every close writes the list

private:
    void refresh();
    void ShowPhoneNumber();
    ConnectionBook m_book;
    bool m_refreshing = false;
};

// Communication settings: port or simulator, and the modem for a dial-up link.
class FormConfig : public QDialog {
    Q_OBJECT
public:
    FormConfig(SettingsStore &settings, QWidget *parent = nullptr);

    QRadioButton *CommSelect[5];
    QLabel *lblRemoteEnable;
    QCheckBox *chkRemote;
    QLabel *lblModtype;
    QComboBox *cmbModem;
    QLabel *lblModInit;
    QLineEdit *txtInitString;
    QLabel *lblModHangup;
    QLineEdit *txtModHangup;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    QWidget *comModemInfo = nullptr;
    // What the last open of the chosen port reported (shown under the ports).
    QLabel *lblPortInfo;

    CommSettingsForm &form() { return m_form; }
    void setPortProblem(const QString &text);

private:
    void SetRemoteEnable();
    void cmbModem_Click(int index);
    CommSettingsForm m_form;
};

} // namespace exel
