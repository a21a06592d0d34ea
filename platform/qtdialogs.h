// The dialog interface shown with real Qt dialogs.
#pragma once

#include "dialogs.h"

class QWidget;

namespace exel {

class QtDialogs : public Dialogs {
public:
    // parentProvider may be null; message boxes then centre on the active window.
    QtDialogs() = default;

    MsgAnswer messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title) override;
    // The detail is the box's informative text: shown under the text, in the box itself.
    MsgAnswer messageBoxWithDetail(
        const QString &text, const QString &detail, MsgButtons buttons, MsgIcon icon, const QString &title) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString openFileName(const FileDialogRequest &request) override;
    QString saveFileName(const FileDialogRequest &request) override;

    // The title of boxes whose caller gives none (default: the application's
    // display name). A program that keeps its display name unset, so that
    // its window captions read exactly as it writes them, names it here.
    void setDefaultTitle(const QString &title) { m_defaultTitle = title; }

private:
    QString defaultTitle() const;
    QString m_defaultTitle;
};

} // namespace exel
