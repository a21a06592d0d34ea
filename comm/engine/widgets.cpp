// The engine's own small windows: the port settings dialog, and filling a
// list or combo box with the modem names.
#include "commobject.h"
#include "settingsdialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace tolcom;

#define OBJ_OR(result)                                                                                                 \
    ObjectPtr obj = enter(handle, __func__);                                                                           \
    if (!obj)                                                                                                          \
        return result;

namespace tolcom {
bool readModemList(std::vector<std::string> &lines);

const int32_t kDialogBauds[] = { 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400 };

int dialogBaudIndex(int32_t baud)
{
    for (int i = 0; i < 8; ++i) {
        if (kDialogBauds[i] == baud)
            return i;
    }
    return 7; // any other rate shows as 38400
}

std::string dialogSettingsText(int32_t baud, int32_t parity, int32_t dataBits, int32_t stopBits)
{
    static const char letters[] = "noems";
    static const char *stops[] = { "1", "1.5", "2" };
    return format(
        "%ld,%c,%d,%s", long(baud), letters[std::clamp(parity, 0, 4)], dataBits, stops[std::clamp(stopBits, 0, 2)]);
}

int32_t dialogHandshaking(int flowChoice)
{
    // Choices in the order shown: Xon/Xoff, Hardware, None.
    return flowChoice == 0 ? 1 : flowChoice == 1 ? 2 : 0;
}

} // namespace tolcom

namespace {

// Items: "Hayes Compatible" (0), then each list line's title with its line number.
template <typename AddItem, typename Select> int32_t fillBox(const ObjectPtr &obj, AddItem addItem, Select select)
{
    addItem(QStringLiteral("Hayes Compatible"), 0);
    std::vector<std::string> lines;
    const bool ok = readModemList(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const std::string title = line.substr(0, line.find('\t'));
        addItem(QString::fromLatin1(title.c_str()), int(i + 1));
    }
    select(QString::fromLatin1(obj->modem.fields[ModemOptions::Title].c_str()));
    return ok ? 1 : 0;
}

} // namespace

extern "C" {

int32_t FillComboWithModemNames(uint32_t handle, void *comboBox)
{
    OBJ_OR(0);
    auto *combo = qobject_cast<QComboBox *>(static_cast<QObject *>(comboBox));
    if (!combo) {
        diag(*obj, "FillComboWithModemNames(): No combo box");
        return 0;
    }
    combo->clear();
    return fillBox(
        obj, [&](const QString &text, int value) { combo->addItem(text, value); },
        [&](const QString &title) {
            for (int i = 0; i < combo->count(); ++i) {
                if (combo->itemText(i).startsWith(title, Qt::CaseInsensitive)) {
                    combo->setCurrentIndex(i);
                    return;
                }
            }
        });
}

int32_t FillListWithModemNames(uint32_t handle, void *listWidget)
{
    OBJ_OR(0);
    auto *list = qobject_cast<QListWidget *>(static_cast<QObject *>(listWidget));
    if (!list) {
        diag(*obj, "FillListWithModemNames(): No list box");
        return 0;
    }
    list->clear();
    return fillBox(
        obj,
        [&](const QString &text, int value) {
            auto *item = new QListWidgetItem(text, list);
            item->setData(Qt::UserRole, value);
        },
        [&](const QString &title) {
            for (int i = 0; i < list->count(); ++i) {
                if (list->item(i)->text().startsWith(title, Qt::CaseInsensitive)) {
                    list->setCurrentRow(i);
                    return;
                }
            }
        });
}

int32_t PortSettingsDialog(uint32_t handle, void *owner)
{
    OBJ_OR(0);
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

    const SerialSettings &s = obj->settings;
    auto *baud = group("Baud rate", { "1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400" },
        dialogBaudIndex(s.baud), 0);
    auto *data = group("Data bits", { "5", "6", "7", "8" }, std::clamp(s.dataBits, 5, 8) - 5, 1);
    auto *stop = group("Stop bits", { "1", "1.5", "2" }, s.stopBits, 2);
    auto *parity = group("Parity", { "None", "Odd", "Even", "Mark", "Space" }, s.parity, 3);
    const int flowChecked = (obj->handshaking & 1) ? 0 : (obj->handshaking & 2) ? 1 : 2;
    auto *flow = group("Flow control", { "Xon/Xoff", "Hardware", "None" }, flowChecked, 4);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    const std::string text = dialogSettingsText(
        kDialogBauds[std::max(baud->checkedId(), 0)], parity->checkedId(), data->checkedId() + 5, stop->checkedId());
    SetSettings(handle, text.c_str());
    SetHandshaking(handle, dialogHandshaking(flow->checkedId()));
    return 1;
}

} // extern "C"
