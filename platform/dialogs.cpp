// Dialog interface: the process-wide instance, filter conversion and the scripted stand-in.
#include "dialogs.h"

namespace exel {
namespace {
ScriptedDialogs &standIn()
{
    static ScriptedDialogs s;
    return s;
}
Dialogs *g_dialogs = nullptr;
} // namespace

Dialogs &dialogs()
{
    return g_dialogs ? *g_dialogs : standIn();
}

void setDialogs(Dialogs *d)
{
    g_dialogs = d;
}

QString qtFileFilter(const QString &designFilter)
{
    const QStringList parts = designFilter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        const int paren = name.indexOf(QLatin1Char('('));
        if (paren > 0)
            name = name.left(paren).trimmed();
        QStringList patterns;
        for (const QString &p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pat = p.trimmed();
            if (pat == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            patterns << pat;
            if (pat.toLower() != pat)
                patterns << pat.toLower();
            else if (pat.toUpper() != pat)
                patterns << pat.toUpper();
        }
        out << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

MsgAnswer goAheadAnswer(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
        return MsgAnswer::Yes;
    case MsgButtons::RetryCancel:
        return MsgAnswer::Retry;
    case MsgButtons::AbortRetryIgnore:
        return MsgAnswer::Abort;
    default:
        return MsgAnswer::Ok;
    }
}

MsgAnswer Dialogs::messageBoxWithDetail(
    const QString &text, const QString &detail, MsgButtons buttons, MsgIcon icon, const QString &title)
{
    return messageBox(detail.isEmpty() ? text : text + QLatin1Char('\n') + detail, buttons, icon, title);
}

MsgAnswer ScriptedDialogs::messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title)
{
    return messageBoxWithDetail(text, QString(), buttons, icon, title);
}

MsgAnswer ScriptedDialogs::messageBoxWithDetail(
    const QString &text, const QString &detail, MsgButtons buttons, MsgIcon icon, const QString &title)
{
    m_shown.push_back(Shown { Kind::MessageBox, text, title, buttons, icon, {}, {}, detail });
    if (whileShown) {
        // Copies: the hook may replace itself or show further boxes.
        const auto hook = whileShown;
        const Shown copy = m_shown.back();
        hook(copy);
    }
    if (!m_answers.empty()) {
        const MsgAnswer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    return goAheadAnswer(buttons);
}

std::optional<QString> ScriptedDialogs::inputBox(const QString &prompt, const QString &title,
                                                 const QString &defaultText)
{
    m_shown.push_back(
        Shown { Kind::InputBox, prompt, title, MsgButtons::OkCancel, MsgIcon::None, {}, defaultText, {} });
    if (m_inputs.empty())
        return std::nullopt;
    const bool given = m_inputs.front().first;
    const QString text = m_inputs.front().second;
    m_inputs.pop_front();
    if (!given)
        return std::nullopt;
    return text;
}

QString ScriptedDialogs::openFileName(const FileDialogRequest &request)
{
    m_shown.push_back(Shown { Kind::OpenFile, request.title, request.title, MsgButtons::OkCancel, MsgIcon::None,
        request.filter, request.fileName, {} });
    if (!m_files.empty()) {
        QString f = m_files.front();
        m_files.pop_front();
        return f;
    }
    return QString();
}

QString ScriptedDialogs::saveFileName(const FileDialogRequest &request)
{
    m_shown.push_back(Shown { Kind::SaveFile, request.title, request.title, MsgButtons::OkCancel, MsgIcon::None,
        request.filter, request.fileName, {} });
    if (!m_files.empty()) {
        QString f = m_files.front();
        m_files.pop_front();
        return f;
    }
    return QString();
}

QStringList ScriptedDialogs::messageTexts() const
{
    QStringList out;
    for (const Shown &s : m_shown)
        if (s.kind == Kind::MessageBox)
            out << s.text;
    return out;
}

void ScriptedDialogs::clear()
{
    m_shown.clear();
    m_answers.clear();
    m_inputs.clear();
    m_files.clear();
}

} // namespace exel
