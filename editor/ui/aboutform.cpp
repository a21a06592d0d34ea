// About box: program name, version and what it is for.
#include "aboutform.h"

#include "xelcfgversion.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace exel {

AboutForm::AboutForm(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About XelCfg"));
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("<h2>XelCfg</h2>"), this);
    auto *text = new QLabel(QStringLiteral("Configuration editor for routing switcher control systems<br>"
                                           "Version %1.%2<br><br>"
                                           "Builds and checks the description of controllers, levels, sources,<br>"
                                           "destinations and name sets, and reads and writes configuration files.")
                                .arg(kProgramMajor)
                                .arg(kProgramMinor),
        this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addWidget(buttons);
}

} // namespace exel
