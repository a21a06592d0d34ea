// Help window over QTextBrowser.
#include "helpwindow.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace exel {
namespace {
QPointer<HelpWindow> g_help;
}

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_browser(new QTextBrowser(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    m_browser->setOpenExternalLinks(false);
    resize(720, 600);
}

bool HelpWindow::openContents(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        m_browser->setHtml(QStringLiteral("<h2>Help is not available</h2><p>The help file <code>%1</code> "
                                          "could not be found.</p>")
                               .arg(path.toHtmlEscaped()));
        return false;
    }
    m_browser->setSearchPaths({info.absolutePath()});
    m_browser->setSource(QUrl::fromLocalFile(info.absoluteFilePath()), QTextDocument::HtmlResource);
    m_browser->moveCursor(QTextCursor::Start);
    setWindowTitle(m_browser->documentTitle().isEmpty() ? info.fileName() : m_browser->documentTitle());
    return true;
}

HelpWindow *HelpWindow::instance()
{
    if (!g_help) {
        g_help = new HelpWindow;
        g_help->setAttribute(Qt::WA_QuitOnClose, false);
    }
    return g_help;
}

bool HelpWindow::showHelp(const QString &path)
{
    HelpWindow *w = instance();
    const bool ok = w->openContents(path);
    w->show();
    w->raise();
    return ok;
}

void HelpWindow::closeHelp()
{
    if (g_help) {
        g_help->close();
        delete g_help;
    }
}

} // namespace exel
