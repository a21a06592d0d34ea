// Exported input, output and look-up functions, and the waits that pump the
// caller's events while they run.
#include "commobject.h"
#include "portwatch.h"

#include <dialogs.h>

#include <algorithm>
#include <cstring>

using namespace tolcom;

#define OBJ_OR(result)                                                                                                 \
    ObjectPtr obj = enter(handle, __func__);                                                                           \
    if (!obj)                                                                                                          \
        return result;

namespace tolcom {

int32_t outputBytes(const ObjectPtr &obj, const char *data, int32_t length, bool echoAndDiagnose)
{
    if (length < 0 || (!data && length > 0)) {
        diag(*obj, format("Output(): Invalid data or length %d", length));
        return 0;
    }
    if (echoAndDiagnose && obj->echo)
        showInTerminal(*obj, data, size_t(length));
    if (!obj->portOpen) {
        if (echoAndDiagnose)
            diag(*obj, "Output(): Port not open");
        return 0;
    }
    if (length == 0)
        return 0;
    if (portwatch::on(portwatch::Output))
        portwatch::hexDump(obj->name, "Ouput", data, size_t(length));
    const long written = obj->driver->write(data, size_t(length), 1000 + 4 * std::min(length, 1 << 20));
    if (written < 0) {
        const int err = obj->driver->lastErrno();
        if (err == EIO || err == ENXIO || err == ENODEV)
            portLost(obj, "Output()");
        if (alive(obj))
            processErrors(obj);
        return -1;
    }
    // A write that could not finish in its time left bytes behind: the
    // transmit side is full.
    if (written < length)
        obj->pendingErrors |= kErrTxFull;
    processErrors(obj);
    return int32_t(written);
}

int32_t lookUpWait(const ObjectPtr &obj, const std::vector<std::string> &strings, char *buffer, int32_t size)
{
    const size_t cap = (buffer && size > 0) ? size_t(size - 1) : 0;
    size_t stored = 0;
    auto finish = [&](int32_t result) {
        if (buffer && size > 0)
            buffer[stored] = '\0';
        return result;
    };
    if (strings.empty() || strings.front().empty())
        return finish(-1);
    if (obj->lookUpTimeOut <= 0)
        return finish(-1);
    LookUpMatcher matcher(strings);
    const int64_t deadline = nowMs() + obj->lookUpTimeOut;
    while (nowMs() < deadline) {
        if (obj->shutDown || !alive(obj) || !obj->portOpen)
            break;
        char byte;
        const long n = readInput(obj, &byte, 1);
        if (n < 0)
            break;
        if (n == 1) {
            afterInput(*obj, &byte, 1);
            if (!processErrors(obj))
                break;
            if (buffer && size > 0) {
                if (stored < cap)
                    buffer[stored++] = byte;
            }
            const int idx = matcher.feed(byte);
            if (idx >= 0)
                return finish(idx);
            if (buffer && size > 0 && stored == cap)
                return finish(-1);
            continue;
        }
        if (!pumpOnce(obj))
            break;
    }
    return finish(-1);
}

} // namespace tolcom

extern "C" {

int32_t Output(uint32_t handle, const char *data, int32_t length)
{
    OBJ_OR(0);
    return outputBytes(obj, data, length, true);
}

int32_t ComOutput(uint32_t handle, const char *data, int32_t length)
{
    OBJ_OR(0);
    return outputBytes(obj, data, length, false);
}

int32_t GetInput(uint32_t handle, char *buffer, int32_t size)
{
    OBJ_OR(0);
    if (size <= 0)
        return 0;
    if (!buffer) {
        diag(*obj, "GetInput(): No buffer");
        return 0;
    }
    if (obj->busy) {
        diag(*obj, "GetInput(): Control is busy doing something else.");
        return 0;
    }
    if (obj->autoProcess & 1)
        diag(*obj, "Input while serial autoprocess is on");
    if (!obj->portOpen) {
        diag(*obj, "GetInput(): Port not open");
        return 0;
    }
    if (!processErrors(obj) || !obj->portOpen)
        return 0;
    int32_t wanted;
    if (obj->inputLen) {
        const int32_t count = queued(*obj);
        wanted = std::min(obj->inputLen, obj->inBufferSize);
        if (wanted <= 0 || wanted > count)
            return 0;
    } else {
        // All that wait: what the device holds when it is read, not what
        // it held a moment before, so a stream is taken in full pieces.
        wanted = obj->inBufferSize;
        if (wanted <= 0)
            return 0;
    }
    const int32_t take = std::min(wanted, size);
    const long n = readInput(obj, buffer, size_t(take));
    if (n <= 0)
        return 0;
    afterInput(*obj, buffer, size_t(n));
    processErrors(obj);
    return int32_t(n);
}

int32_t GetLineInput(uint32_t handle, char *buffer, int32_t size)
{
    OBJ_OR(0);
    if (!buffer || size <= 0) {
        diag(*obj, "GetLineInput(): No buffer");
        return 0;
    }
    if (!obj->portOpen)
        diag(*obj, "GetLineInput(): Port not open");
    if (obj->autoProcess & 1)
        diag(*obj, "Input while serial autoprocess is on");
    const size_t cap = size_t(size - 1);
    size_t stored = 0;
    const int64_t deadline = nowMs() + obj->inTimeOut;
    bool ended = false;
    // Input is taken a piece at a time, up to the line's end: never more
    // than could still be stored, so nothing past the line or past the
    // buffer is consumed.
    char piece[512];
    while (!ended && nowMs() < deadline && stored < cap) {
        if (obj->shutDown || !alive(obj) || !obj->portOpen)
            break;
        const long n = readInputLine(obj, piece, std::min(sizeof piece, cap - stored), '\r');
        if (n < 0)
            break;
        if (n == 0) {
            if (!pumpOnce(obj))
                break;
            continue;
        }
        if (portwatch::on(portwatch::Input)) {
            for (long i = 0; i < n; ++i)
                afterInput(*obj, piece + i, 1); // the port log keeps one record per byte
        } else {
            afterInput(*obj, piece, size_t(n));
        }
        for (long i = 0; i < n; ++i) {
            const char byte = piece[i];
            if (byte == '\r') {
                ended = true;
                break;
            }
            if (byte != '\n')
                buffer[stored++] = byte;
        }
    }
    buffer[stored] = '\0';
    return int32_t(stored);
}

int32_t InputUntilLookUp(uint32_t handle, const char *lookups, int32_t lookupsSize, char *buffer, int32_t size)
{
    OBJ_OR(-1);
    if (buffer && size > 0)
        buffer[0] = '\0';
    if (obj->busy) {
        exel::dialogs().messageBox(QStringLiteral("Control is busy"), exel::MsgButtons::Ok, exel::MsgIcon::Exclamation,
            QStringLiteral("LookUp"));
        diag(*obj, "   Control is busy");
        return -1;
    }
    std::vector<std::string> strings;
    switch (readLookUpList(lookups, lookupsSize > 0 ? size_t(lookupsSize) : 0, strings)) {
    case LookUpListStatus::Unterminated:
        diag(*obj, "InputUntilLookUp(): The look-up list does not end with an empty string");
        return -1;
    case LookUpListStatus::TooMany:
        diag(*obj, "InputUntilLookUp(): More than 50 look-up strings; the first 50 are used");
        break;
    case LookUpListStatus::Ok:
        break;
    }
    return lookUpWait(obj, strings, buffer, size);
}

int32_t DiscardUntilLookUp(uint32_t handle, const char *lookups, int32_t lookupsSize)
{
    return InputUntilLookUp(handle, lookups, lookupsSize, nullptr, 0);
}

int32_t SetLookUpTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    obj->lookUpTimeOut = ms;
    return 0;
}
int32_t GetLookUpTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->lookUpTimeOut;
}
int32_t SetLookUpSeparator(uint32_t handle, int32_t ch)
{
    OBJ_OR(0);
    obj->lookUpSeparator = ch & 0xFF;
    return 0;
}
int32_t GetLookUpSeparator(uint32_t handle)
{
    OBJ_OR(0);
    return obj->lookUpSeparator;
}
int32_t SetEcho(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->echo = flag;
    return 0;
}
int32_t GetEcho(uint32_t handle)
{
    OBJ_OR(0);
    return obj->echo;
}
int32_t SetInputEcho(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->inputEcho = flag;
    return 0;
}
int32_t GetInputEcho(uint32_t handle)
{
    OBJ_OR(0);
    return obj->inputEcho;
}
int32_t SetCommEcho(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->commEcho = flag;
    return 0;
}
int32_t GetCommEcho(uint32_t handle)
{
    OBJ_OR(0);
    return obj->commEcho;
}

int32_t ClearInputBuffer(uint32_t handle)
{
    OBJ_OR(0);
    if (!obj->portOpen) {
        diag(*obj, "ClearInputBuffer(): Port not open");
        return 0;
    }
    purgeInput(*obj);
    return 1;
}

int32_t ClearOutputBuffer(uint32_t handle)
{
    OBJ_OR(0);
    if (!obj->portOpen) {
        diag(*obj, "ClearOutputBuffer(): Port not open");
        return 0;
    }
    obj->driver->purge(false, true);
    return 1;
}

static int32_t flushWait(const ObjectPtr &obj, int32_t ms, bool input)
{
    const int64_t deadline = nowMs() + std::max(ms, 0);
    for (;;) {
        if (!alive(obj) || !obj->portOpen)
            return 0;
        collectErrors(*obj);
        if (!processErrors(obj) || !obj->portOpen)
            return 0;
        const int count = input ? queued(*obj) : obj->driver->outQueue();
        if (count == 0)
            return 1;
        if (nowMs() >= deadline || obj->shutDown)
            return 0;
        if (!pumpOnce(obj))
            return 0;
    }
}

int32_t FlushInputBuffer(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    return flushWait(obj, ms, true);
}

int32_t FlushOutputBuffer(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    return flushWait(obj, ms, false);
}

int32_t ComPause(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    return pauseMs(obj, ms) ? 1 : 0;
}

int32_t WaitForInput(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    const int64_t deadline = nowMs() + std::max(ms, 0);
    for (;;) {
        if (!alive(obj) || !obj->portOpen || obj->shutDown)
            return 0;
        const int count = queued(*obj);
        if (count > 0)
            return count;
        if (nowMs() >= deadline)
            return 0;
        if (!pumpOnce(obj))
            return 0;
    }
}

} // extern "C"
