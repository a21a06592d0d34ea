// The Telnet/RFC 2217 decoder on whatever a server sends, fed in two pieces
// split anywhere: replies stay bounded, and the data decoded never exceeds the
// bytes given.
#include "telnetcodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t split = data[0] % size;
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    const size_t len = size - 1;
    const size_t cut = split < len ? split : len;
    tolcom::TelnetCodec codec;
    codec.greeting();
    std::string out, reply;
    codec.feed(bytes, cut, out, reply);
    codec.feed(bytes + cut, len - cut, out, reply);
    if (out.size() > len)
        std::abort();
    // At most one three-byte answer per request, and never more than the cap
    // of answers per option, plus signature answers.
    if (reply.size() > 3 * 16 * 256 + len * 16)
        std::abort();
    // Escaping and decoding the data gives it back.
    tolcom::TelnetCodec again;
    std::string round, ignored;
    const std::string wire = tolcom::TelnetCodec::escape(out.data(), out.size());
    again.feed(wire.data(), wire.size(), round, ignored);
    if (round != out)
        std::abort();
    return 0;
}
