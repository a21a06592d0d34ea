// The program's help window: shows an HTML help file from the program folder
// at its contents, and closes with the program.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace exel {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // Loads the file and scrolls to its top (the contents). False when it cannot be read.
    bool openContents(const QString &path);
    QTextBrowser *browser() const { return m_browser; }

    // One help window per program, created on first use.
    static HelpWindow *instance();
    // Opens path at its contents in the program's help window and shows it.
    static bool showHelp(const QString &path);
    // The quit command: closes the program's help window if it is open.
    static void closeHelp();

private:
    QTextBrowser *m_browser;
};

} // namespace exel
