// The one interface through which every modal message box, input box and file
// dialog is shown. The programs install the Qt implementation; tests install
// ScriptedDialogs, which answers by script and keeps the exact texts shown.
#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace exel {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

// The answer of an operator who goes ahead: Yes, Retry, Abort or OK by the
// buttons offered. Unattended hosts (tests, the soak) answer with it.
MsgAnswer goAheadAnswer(MsgButtons buttons);

struct FileDialogRequest {
    QString title;
    // Filter in the design's form: "Name (*.EXT)|*.EXT|All files (*.*)|*.*".
    QString filter;
    int filterIndex = 1;
    QString fileName;   // proposed name or path
    QString folder;     // starting folder
    bool hideReadOnly = false;
    bool overwritePrompt = false;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual MsgAnswer messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title) = 0;
    // A box whose text stays exactly the fixed sentence, with the facts that
    // help (a line number, the device's reason) shown under it as its detail.
    // An empty detail gives the plain box. The default puts the detail on
    // the text's last line, for hosts that have no place for it.
    virtual MsgAnswer messageBoxWithDetail(
        const QString &text, const QString &detail, MsgButtons buttons, MsgIcon icon, const QString &title);
    // The entered text, or nothing when cancelled.
    virtual std::optional<QString> inputBox(const QString &prompt, const QString &title,
                                            const QString &defaultText) = 0;
    // The chosen path, or "" when cancelled.
    virtual QString openFileName(const FileDialogRequest &request) = 0;
    virtual QString saveFileName(const FileDialogRequest &request) = 0;

    // Shorthand for an OK-only box.
    void message(const QString &text, MsgIcon icon = MsgIcon::None, const QString &title = QString())
    {
        messageBox(text, MsgButtons::Ok, icon, title);
    }
};

// Process-wide instance used where no other is passed in. Until one is
// installed, a ScriptedDialogs that answers with defaults stands in, so library
// code never blocks on a dialog nobody can see.
Dialogs &dialogs();
// Installs d (not owned; nullptr restores the default stand-in).
void setDialogs(Dialogs *d);

// Converts "Name (*.EXT)|*.EXT|..." to Qt's "Name (*.EXT *.ext);;..." form. File
// names on this platform are case-sensitive, so each pattern is offered in
// upper and lower case.
QString qtFileFilter(const QString &designFilter);

class ScriptedDialogs : public Dialogs {
public:
    enum class Kind { MessageBox, InputBox, OpenFile, SaveFile };
    struct Shown {
        Kind kind;
        QString text;   // message text, input prompt, or dialog title
        QString title;
        MsgButtons buttons = MsgButtons::Ok;
        MsgIcon icon = MsgIcon::None;
        QString filter;
        QString defaultText;
        QString detail; // a message box's detail, under its text
    };

    MsgAnswer messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title) override;
    MsgAnswer messageBoxWithDetail(
        const QString &text, const QString &detail, MsgButtons buttons, MsgIcon icon, const QString &title) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString openFileName(const FileDialogRequest &request) override;
    QString saveFileName(const FileDialogRequest &request) override;

    // Runs while each message box is up, after it was recorded: tests use it
    // to act as events that arrive while a modal box waits.
    std::function<void(const Shown &)> whileShown;

    // Scripted answers are used in order; when none is queued a message box
    // answers its first button (OK or Yes), an input box is cancelled and a file
    // dialog is cancelled.
    void queueAnswer(MsgAnswer answer) { m_answers.push_back(answer); }
    void queueInput(const std::optional<QString> &text) { m_inputs.emplace_back(text.has_value(), text.value_or(QString())); }
    void queueFile(QString path) { m_files.push_back(std::move(path)); }

    const std::vector<Shown> &shown() const { return m_shown; }
    QStringList messageTexts() const;
    QString lastText() const { return m_shown.empty() ? QString() : m_shown.back().text; }
    int count() const { return static_cast<int>(m_shown.size()); }
    void clear();

private:
    std::vector<Shown> m_shown;
    std::deque<MsgAnswer> m_answers;
    std::deque<std::pair<bool, QString>> m_inputs; // (given, text); not given = cancelled
    std::deque<QString> m_files;
};

} // namespace exel
