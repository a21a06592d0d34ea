// Exported modem functions: the modem record and list, command output with
// its "^" and "~" escapes, and the init, dial and hang-up conversations.
#include "commobject.h"
#include "engine_testing.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

using namespace tolcom;

#define OBJ_OR(result)                                                                                                 \
    ObjectPtr obj = enter(handle, __func__);                                                                           \
    if (!obj)                                                                                                          \
        return result;

namespace {

std::string g_modemListPath;

// Look-up lists: strings each ended by a NUL, the block by an empty string.
const char kOkList[] = "OK\0ERROR\0";
const char kDialList[] = "CONNECT\0NO CARRIER\0NO DIALTONE\0BUSY\0";

bool sendModem(const ObjectPtr &obj, const std::string &command)
{
    if (!pauseMs(obj, 200) && !alive(obj))
        return false;
    for (size_t i = 0; i < command.size(); ++i) {
        if (!alive(obj))
            return false;
        char ch = command[i];
        if (ch == '~') {
            pauseMs(obj, 1000);
            continue;
        }
        if (ch == '^') {
            if (i + 1 >= command.size())
                break; // a "^" at the very end is dropped
            ch = char(command[++i] - 64);
        }
        outputBytes(obj, &ch, 1, true);
    }
    return alive(obj);
}

int32_t waitFor(const ObjectPtr &obj, const char *list, size_t listSize, int32_t timeOut)
{
    const int32_t saved = obj->lookUpTimeOut;
    obj->lookUpTimeOut = timeOut;
    std::vector<std::string> strings;
    readLookUpList(list, listSize, strings);
    int32_t result = -1;
    if (obj->busy) {
        // A modem wait from inside another wait of the same object.
        result = DiscardUntilLookUp(obj->self, list, int32_t(listSize));
    } else {
        result = lookUpWait(obj, strings, nullptr, 0);
    }
    if (alive(obj))
        obj->lookUpTimeOut = saved;
    return result;
}

int32_t waitForOk(const ObjectPtr &obj)
{
    return waitFor(obj, kOkList, sizeof kOkList, 8000) == 0 ? 1 : 0;
}

bool carrierPresent(CommObject &obj)
{
    return (lineWord(obj) & kLineCarrier) != 0;
}

int32_t hangUp(const ObjectPtr &obj)
{
    if (obj->dialing) {
        const char cr = '\r';
        outputBytes(obj, &cr, 1, true);
        return 1;
    }
    if (carrierPresent(*obj)) {
        const int32_t saved = obj->dtrEnable;
        obj->dtrEnable = 0;
        obj->driver->setDtr(false);
        pauseMs(obj, 200);
        if (!alive(obj))
            return 0;
        obj->dtrEnable = saved;
        if (obj->portOpen)
            obj->driver->setDtr(saved != 0);
        if (carrierPresent(*obj)) {
            sendModem(obj, obj->modem.fields[ModemOptions::HangUp]);
            if (alive(obj) && waitForOk(obj)) {
                obj->virtualCarrier = false;
                return 1;
            }
        }
    }
    if (!alive(obj))
        return 0;
    return carrierPresent(*obj) ? 0 : 1;
}

} // namespace

namespace tolcom {

void setModemListPath(const std::string &path)
{
    g_modemListPath = path;
}

std::string modemListPath()
{
    if (!g_modemListPath.empty())
        return g_modemListPath;
    Dl_info info {};
    if (dladdr(reinterpret_cast<void *>(&setModemListPath), &info) && info.dli_fname)
        return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath().toStdString() + "/MODEM.LST";
    return "MODEM.LST";
}

bool readModemList(std::vector<std::string> &lines)
{
    QFile f(QString::fromStdString(modemListPath()));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The list is a few lines; anything past 1 MiB is not a modem list.
    const QByteArray content = f.read(1 << 20);
    lines = readModemListLines(std::string_view(content.constData(), size_t(content.size())));
    return true;
}

} // namespace tolcom

extern "C" {

int32_t LoadModemOptions(uint32_t handle, int32_t entry)
{
    OBJ_OR(0);
    if (entry == 0) {
        obj->modem = ModemOptions::builtIn();
        return 1;
    }
    if (entry < 0) {
        diag(*obj, format("LoadModemOptions(%d): Invalid entry", entry));
        return 0;
    }
    std::vector<std::string> lines;
    if (!readModemList(lines)) {
        diag(*obj, "LoadModemOptions(): Cannot open " + modemListPath());
        return 0;
    }
    if (size_t(entry) > lines.size())
        return 0;
    obj->modem = ModemOptions::fromText(lines[size_t(entry) - 1]);
    return 1;
}

int32_t GetModemOptions(uint32_t handle, char *buffer, int32_t size)
{
    OBJ_OR(0);
    return copyOut(obj->modem.toText(), buffer, size);
}

int32_t SetModemOptions(uint32_t handle, const char *text)
{
    OBJ_OR(0);
    if (!text)
        return 380;
    // A field longer than a modem list line cannot be stored whole: refused,
    // never cut short without a word.
    size_t field = 0;
    for (const char *p = text; *p; ++p) {
        if (static_cast<unsigned char>(*p) < 32) {
            field = 0;
            continue;
        }
        if (++field > kModemLineMax) {
            diag(*obj, format("SetModemOptions(): A field is longer than %zu characters", kModemLineMax));
            return 380;
        }
    }
    obj->modem = ModemOptions::fromText(text);
    return 0;
}

int32_t OutputModem(uint32_t handle, const char *command)
{
    OBJ_OR(0);
    if (!command)
        return 0;
    return sendModem(obj, command) ? 1 : 0;
}

int32_t WaitForOk(uint32_t handle)
{
    OBJ_OR(0);
    return waitForOk(obj);
}

int32_t CheckModem(uint32_t handle)
{
    OBJ_OR(0);
    if (!sendModem(obj, "AT^M"))
        return 0;
    return waitForOk(obj);
}

int32_t InitModem(uint32_t handle)
{
    OBJ_OR(0);
    hangUp(obj);
    if (!alive(obj) || !sendModem(obj, obj->modem.fields[ModemOptions::Init]))
        return 0;
    return waitForOk(obj);
}

int32_t InitModemForAnswer(uint32_t handle)
{
    OBJ_OR(0);
    if (!sendModem(obj, obj->modem.fields[ModemOptions::Init]) || !waitForOk(obj))
        return 0;
    if (!alive(obj) || !sendModem(obj, obj->modem.fields[ModemOptions::Answer]))
        return 0;
    return waitForOk(obj);
}

int32_t Dial(uint32_t handle, const char *number)
{
    OBJ_OR(4);
    if (obj->portOpen) {
        purgeInput(*obj);
        obj->driver->purge(false, true);
    } else
        diag(*obj, "Dial(): Port not open");
    const std::string &dialCommand
        = obj->modem.fields[obj->dialMode == 1 ? ModemOptions::PulseDial : ModemOptions::ToneDial];
    if (!sendModem(obj, dialCommand))
        return 4;
    const std::string digits = number ? number : "";
    outputBytes(obj, digits.data(), int32_t(digits.size()), true);
    const char cr = '\r';
    outputBytes(obj, &cr, 1, true);
    if (!alive(obj))
        return 4;
    obj->dialing = true;
    const int32_t idx = waitFor(obj, kDialList, sizeof kDialList, obj->dialTimeOut);
    if (!alive(obj))
        return idx >= 0 ? idx : 4;
    obj->dialing = false;
    if (idx == 0) {
        uint32_t word = 0;
        obj->virtualCarrier = obj->portOpen && !obj->driver->modemLines(word);
        obj->carrierWatch = std::make_unique<LookUpMatcher>(std::vector<std::string> { "NO CARRIER" });
    }
    if (idx >= 0)
        return idx;
    // No answer: one carriage return makes the modem give up.
    outputBytes(obj, &cr, 1, true);
    return 4;
}

int32_t HangUp(uint32_t handle)
{
    OBJ_OR(0);
    return hangUp(obj);
}

int32_t SetDialMode(uint32_t handle, int32_t mode)
{
    OBJ_OR(0);
    if (mode < 0 || mode > 1) {
        diag(*obj, format("SetDialMode(%d): Should be 0 or 1", mode));
        return 380;
    }
    obj->dialMode = mode;
    return 0;
}
int32_t GetDialMode(uint32_t handle)
{
    OBJ_OR(0);
    return obj->dialMode;
}
int32_t SetDialTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    obj->dialTimeOut = ms;
    return 0;
}
int32_t GetDialTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->dialTimeOut;
}

} // extern "C"
