// The engine's window functions: the port settings dialog and filling a list
// or combo box with the modem names. The windows themselves are in
// libtolcom32_widgets.so, loaded on first use (enginewindows.h); what they
// show and what the dialog's choices mean is worked out here.
#include "commobject.h"
#include "enginewindows.h"
#include "settingsdialog.h"

#include <QFileInfo>

#include <algorithm>
#include <dlfcn.h>

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

struct WindowsLibrary {
    void *handle = nullptr;
    TolcomFillBoxProc fillBox = nullptr;
    TolcomSettingsDialogProc settingsDialog = nullptr;
    std::string failure;
};

// Loaded once per process, on first use; a failure is remembered with its
// reason, so every later call says the same.
const WindowsLibrary &windowsLibrary()
{
    static const WindowsLibrary lib = [] {
        WindowsLibrary l;
        std::string beside;
        Dl_info info {};
        if (dladdr(reinterpret_cast<void *>(&dialogBaudIndex), &info) && info.dli_fname)
            beside = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath().toStdString() + "/"
                + TOLCOM_WINDOWS_LIBRARY;
        if (!beside.empty() && QFileInfo::exists(QString::fromStdString(beside)))
            l.handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!l.handle)
            l.handle = dlopen(TOLCOM_WINDOWS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!l.handle) {
            const char *why = dlerror();
            l.failure = why ? why : TOLCOM_WINDOWS_LIBRARY " not found";
            return l;
        }
        l.fillBox = reinterpret_cast<TolcomFillBoxProc>(dlsym(l.handle, "tolcom32w_FillBox"));
        l.settingsDialog = reinterpret_cast<TolcomSettingsDialogProc>(dlsym(l.handle, "tolcom32w_SettingsDialog"));
        if (!l.fillBox || !l.settingsDialog)
            l.failure = TOLCOM_WINDOWS_LIBRARY " lacks its functions";
        return l;
    }();
    return lib;
}

bool windowsAvailable(const CommObject &obj, const char *function)
{
    const WindowsLibrary &lib = windowsLibrary();
    if (lib.failure.empty())
        return true;
    diag(obj, format("%s: The engine's windows are not available: %s", function, lib.failure.c_str()));
    return false;
}

// Items: "Hayes Compatible" (0), then each list line's title with its line
// number; the item whose text begins with the object's title is selected.
int32_t fillBox(const ObjectPtr &obj, void *box, bool list, const char *function)
{
    if (!box) {
        diag(*obj, format("%s: No %s box", function, list ? "list" : "combo"));
        return 0;
    }
    if (!windowsAvailable(*obj, function))
        return 0;
    std::vector<std::string> lines;
    const bool ok = readModemList(lines);
    std::vector<std::string> titles { "Hayes Compatible" };
    for (const std::string &line : lines)
        titles.push_back(line.substr(0, line.find('\t')));
    std::vector<const char *> pointers;
    for (const std::string &t : titles)
        pointers.push_back(t.c_str());
    const std::string current = obj->modem.fields[ModemOptions::Title];
    const int32_t rc
        = windowsLibrary().fillBox(box, list ? 1 : 0, pointers.data(), int32_t(pointers.size()), current.c_str());
    if (rc == TOLCOM_WINDOWS_WRONG_WIDGET) {
        diag(*obj, format("%s: No %s box", function, list ? "list" : "combo"));
        return 0;
    }
    if (rc == TOLCOM_WINDOWS_NO_APPLICATION) {
        diag(*obj, format("%s: Windows need a QApplication", function));
        return 0;
    }
    return ok ? 1 : 0;
}

} // namespace

extern "C" {

int32_t FillComboWithModemNames(uint32_t handle, void *comboBox)
{
    OBJ_OR(0);
    return fillBox(obj, comboBox, false, "FillComboWithModemNames()");
}

int32_t FillListWithModemNames(uint32_t handle, void *listWidget)
{
    OBJ_OR(0);
    return fillBox(obj, listWidget, true, "FillListWithModemNames()");
}

int32_t PortSettingsDialog(uint32_t handle, void *owner)
{
    OBJ_OR(0);
    if (!windowsAvailable(*obj, "PortSettingsDialog()"))
        return 0;
    const SerialSettings &s = obj->settings;
    // Flow choices in the order shown: Xon/Xoff, Hardware, None.
    int32_t flow = 2;
    if (obj->handshaking & 1)
        flow = 0;
    else if (obj->handshaking & 2)
        flow = 1;
    int32_t choice[5] = { dialogBaudIndex(s.baud), std::clamp(s.dataBits, 5, 8), std::clamp(s.stopBits, 0, 2),
        std::clamp(s.parity, 0, 4), flow };
    const int32_t rc = windowsLibrary().settingsDialog(owner, choice);
    if (rc == TOLCOM_WINDOWS_NO_APPLICATION) {
        diag(*obj, "PortSettingsDialog(): Windows need a QApplication");
        return 0;
    }
    // The dialog ran a modal loop: the object may have gone meanwhile.
    if (rc != TOLCOM_WINDOWS_DONE || !alive(obj))
        return 0;
    const std::string text
        = dialogSettingsText(kDialogBauds[std::clamp(choice[0], 0, 7)], choice[3], choice[1], choice[2]);
    SetSettings(handle, text.c_str());
    SetHandshaking(handle, dialogHandshaking(choice[4]));
    return 1;
}

} // extern "C"
