// Fuzzes what the link reads off the wire: the receive buffer fed in pieces,
// the answer check and the status and lock-table decoders.
#include "hublinkprotocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    exel::HublinkReceiveBuffer buf;
    // Pieces of 1..8 characters, sized by the data itself, as reads would deliver them.
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype len = 1 + (data[pos] % 8);
        buf.append(QStringView(text).sliced(pos, std::min(len, text.size() - pos)));
        pos += len;
    }
    const exel::HublinkAnswer a = buf.answer();
    if (!buf.overflowed() && a.good() != (buf.hasLineEnd() && exel::HublinkCheckAnswer(text).good()))
        __builtin_trap();
    exel::HublinkStatus status;
    std::vector<bool> locks;
    exel::ErrorInfo error;
    for (const QString &reply : { a.body, text }) {
        if (exel::HublinkDecodeStatus(reply, status, error)) {
            // Every level read has its element, plus the spare one the callers expect.
            if (status.levels < 0 || status.intSrc.size() < static_cast<size_t>(status.levels) + 1
                || status.bolErr.size() != status.intSrc.size())
                __builtin_trap();
        }
        if (exel::HublinkDecodeLocks(reply, locks, error) && (locks.size() < 2 || locks.back()))
            __builtin_trap();
        // The late-answer filter takes any command text and any body.
        for (const char *command : { "Y001", "3Y999", "WS", "H001001", "LS002", "KQ", "Y", "" }) {
            const QString cmd = QString::fromLatin1(command);
            // A late answer is one that does not fit, or echoes an unanswered status question.
            const bool late = exel::HublinkLateAnswer(cmd, reply, { QStringLiteral("Y001"), QStringLiteral("Y"), cmd });
            if (!exel::HublinkAnswerFits(cmd, reply) && !late)
                __builtin_trap();
        }
    }
    // Dropping lines as the link does for late answers ends, and each drop
    // shortens what is kept.
    for (int i = 0; buf.hasLineEnd(); ++i) {
        const qsizetype before = buf.text().size();
        buf.dropFirstLine();
        if (buf.text().size() >= before || i > 100000)
            __builtin_trap();
    }
    return 0;
}
