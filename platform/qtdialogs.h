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
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString openFileName(const FileDialogRequest &request) override;
    QString saveFileName(const FileDialogRequest &request) override;
};

} // namespace exel
