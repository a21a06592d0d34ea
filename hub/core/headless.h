// What the link shows in windows on a panel, for a service with no display:
// message boxes become log lines answered as an operator who goes ahead would,
// and the modem connection book "chooses" the configured phone number.
#pragma once

#include "dialogs.h"
#include "hublinkcore.h"

#include <functional>

namespace exel::hub {

class LogDialogs : public Dialogs {
public:
    explicit LogDialogs(QString prefix)
        : m_prefix(std::move(prefix))
    {
    }
    MsgAnswer messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString openFileName(const FileDialogRequest &request) override;
    QString saveFileName(const FileDialogRequest &request) override;

private:
    QString m_prefix;
};

// The link's windows for a dial-up line without a display: the connection
// book answers Connect when a phone number is configured (the link reads it
// from its settings), and the modem status lines go to the log.
class HeadlessHublinkUi : public HublinkUi {
public:
    HeadlessHublinkUi(QString prefix, bool havePhoneNumber)
        : m_prefix(std::move(prefix))
        , m_havePhone(havePhoneNumber)
    {
    }
    bool showConnectionBook() override { return m_havePhone; }
    QStringList fillModemCombo(QObject *comm) override;
    void showModemStatus(const QString &text) override;
    void setModemStatus(const QString &text) override;
    void closeModemStatus() override;

    // Told when the link starts a modem connection and when it is done.
    std::function<void(bool dialling)> onDialling;

private:
    QString m_prefix;
    bool m_havePhone;
};

} // namespace exel::hub
