// Qt implementation of the dialog interface.
#include "qtdialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace exel {
namespace {

QWidget *parentWidget()
{
    return QApplication::activeWindow();
}

QString fileDialogFolder(const FileDialogRequest &r)
{
    if (!r.fileName.isEmpty())
        return r.folder.isEmpty() ? r.fileName : r.folder + QLatin1Char('/') + r.fileName;
    return r.folder;
}

QString selectedFilter(const QString &qtFilter, int index)
{
    const QStringList filters = qtFilter.split(QStringLiteral(";;"));
    if (index >= 1 && index <= filters.size())
        return filters[index - 1];
    return QString();
}

} // namespace

QString QtDialogs::defaultTitle() const
{
    return m_defaultTitle.isEmpty() ? QApplication::applicationDisplayName() : m_defaultTitle;
}

MsgAnswer QtDialogs::messageBox(const QString &text, MsgButtons buttons, MsgIcon icon, const QString &title)
{
    return messageBoxWithDetail(text, QString(), buttons, icon, title);
}

MsgAnswer QtDialogs::messageBoxWithDetail(
    const QString &text, const QString &detail, MsgButtons buttons, MsgIcon icon, const QString &title)
{
    QMessageBox box(parentWidget());
    box.setText(text);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.setWindowTitle(title.isEmpty() ? defaultTitle() : title);
    switch (icon) {
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::None: break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MsgButtons::RetryCancel: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
    case MsgButtons::AbortRetryIgnore:
        box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgAnswer::Ok;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Retry: return MsgAnswer::Retry;
    case QMessageBox::Abort: return MsgAnswer::Abort;
    case QMessageBox::Ignore: return MsgAnswer::Ignore;
    default: return MsgAnswer::Cancel;
    }
}

std::optional<QString> QtDialogs::inputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(
        parentWidget(), title.isEmpty() ? defaultTitle() : title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString QtDialogs::openFileName(const FileDialogRequest &request)
{
    const QString filter = qtFileFilter(request.filter);
    QString selected = selectedFilter(filter, request.filterIndex);
    QFileDialog::Options options;
    if (request.hideReadOnly)
        options |= QFileDialog::ReadOnly;
    return QFileDialog::getOpenFileName(parentWidget(), request.title, fileDialogFolder(request), filter, &selected,
                                        options);
}

QString QtDialogs::saveFileName(const FileDialogRequest &request)
{
    const QString filter = qtFileFilter(request.filter);
    QString selected = selectedFilter(filter, request.filterIndex);
    QFileDialog::Options options;
    if (!request.overwritePrompt)
        options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(parentWidget(), request.title, fileDialogFolder(request), filter, &selected,
                                        options);
}

} // namespace exel
