// The splash window shown at start-up and the About box.
#pragma once

#include <QDialog>
#include <QString>

namespace exel {

// Shows the splash window "intro" without waiting; it closes itself after
// about eight seconds, whatever the main window does meanwhile.
void showSplash(const QString &title, int milliseconds = 8000);
// Closes the splash early (before a dialog the operator must answer).
void closeSplash();

// Product name and version lines, and an OK button.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);
};

// A small drawn router symbol used by the splash, the About box and the window icon.
QPixmap productPixmap(int size);

} // namespace exel
