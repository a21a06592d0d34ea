// Log-only stand-ins for the link's windows.
#include "headless.h"

#include "hublog.h"

namespace exel::hub {

namespace {
QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QStringLiteral(" / "));
}
} // namespace

MsgAnswer LogDialogs::messageBox(const QString &text, MsgButtons buttons, MsgIcon, const QString &)
{
    hubLog(m_prefix + oneLine(text));
    return goAheadAnswer(buttons);
}

std::optional<QString> LogDialogs::inputBox(const QString &prompt, const QString &, const QString &)
{
    hubLog(m_prefix + QStringLiteral("input asked and refused: ") + oneLine(prompt));
    return std::nullopt;
}

QString LogDialogs::openFileName(const FileDialogRequest &)
{
    return QString();
}

QString LogDialogs::saveFileName(const FileDialogRequest &)
{
    return QString();
}

QStringList HeadlessHublinkUi::fillModemCombo(QObject *)
{
    // No combo box to fill: the link then picks the first modem of the list,
    // whose commands the configured init and hang-up strings override.
    return {};
}

void HeadlessHublinkUi::showModemStatus(const QString &text)
{
    hubLog(m_prefix + text);
    if (onDialling)
        onDialling(true);
}

void HeadlessHublinkUi::closeModemStatus()
{
    if (onDialling)
        onDialling(false);
}

void HeadlessHublinkUi::setModemStatus(const QString &text)
{
    hubLog(m_prefix + text);
}

} // namespace exel::hub
