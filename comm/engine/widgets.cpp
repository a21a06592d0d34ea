// libtolcom32_widgets.so: the engine's port settings dialog and the filling of
// a list or combo box with modem names (see enginewindows.h).
#include "enginewindows.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

bool haveApplication()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

int32_t tolcom32w_FillBox(void *box, int32_t list, const char *const *titles, int32_t count, const char *current)
{
    if (!haveApplication())
        return TOLCOM_WINDOWS_NO_APPLICATION;
    auto *object = static_cast<QObject *>(box);
    const QString title = QString::fromLatin1(current ? current : "");
    if (list) {
        auto *listWidget = qobject_cast<QListWidget *>(object);
        if (!listWidget)
            return TOLCOM_WINDOWS_WRONG_WIDGET;
        listWidget->clear();
        for (int32_t i = 0; i < count; ++i) {
            auto *item = new QListWidgetItem(QString::fromLatin1(titles[i]), listWidget);
            item->setData(Qt::UserRole, int(i));
        }
        for (int i = 0; i < listWidget->count(); ++i) {
            if (listWidget->item(i)->text().startsWith(title, Qt::CaseInsensitive)) {
                listWidget->setCurrentRow(i);
                break;
            }
        }
        return TOLCOM_WINDOWS_DONE;
    }
    auto *combo = qobject_cast<QComboBox *>(object);
    if (!combo)
        return TOLCOM_WINDOWS_WRONG_WIDGET;
    combo->clear();
    for (int32_t i = 0; i < count; ++i)
        combo->addItem(QString::fromLatin1(titles[i]), int(i));
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(title, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            break;
        }
    }
    return TOLCOM_WINDOWS_DONE;
}

int32_t tolcom32w_SettingsDialog(void *owner, int32_t choice[5])
{
    if (!haveApplication())
        return TOLCOM_WINDOWS_NO_APPLICATION;
    QDialog dialog(static_cast<QWidget *>(owner));
    dialog.setWindowTitle(QStringLiteral("Settings"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *grid = new QGridLayout;
    layout->addLayout(grid);

    auto group = [&](const char *title, const QStringList &choices, int checked, int column) {
        auto *box = new QGroupBox(QString::fromLatin1(title));
        auto *boxLayout = new QVBoxLayout(box);
        auto *buttons = new QButtonGroup(box);
        for (int i = 0; i < choices.size(); ++i) {
            auto *radio = new QRadioButton(choices[i]);
            buttons->addButton(radio, i);
            boxLayout->addWidget(radio);
        }
        if (auto *b = buttons->button(checked))
            b->setChecked(true);
        grid->addWidget(box, 0, column);
        return buttons;
    };

    auto *baud
        = group("Baud rate", { "1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400" }, choice[0], 0);
    auto *data = group("Data bits", { "5", "6", "7", "8" }, choice[1] - 5, 1);
    auto *stop = group("Stop bits", { "1", "1.5", "2" }, choice[2], 2);
    auto *parity = group("Parity", { "None", "Odd", "Even", "Mark", "Space" }, choice[3], 3);
    auto *flow = group("Flow control", { "Xon/Xoff", "Hardware", "None" }, choice[4], 4);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return TOLCOM_WINDOWS_CANCELLED;
    choice[0] = std::max(baud->checkedId(), 0);
    choice[1] = std::max(data->checkedId(), 0) + 5;
    choice[2] = std::max(stop->checkedId(), 0);
    choice[3] = std::max(parity->checkedId(), 0);
    choice[4] = std::max(flow->checkedId(), 0);
    return TOLCOM_WINDOWS_DONE;
}
