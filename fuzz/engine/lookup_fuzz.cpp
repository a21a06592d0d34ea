// Fuzzes the look-up list reader and the sliding matcher: the first bytes
// are the list block, the rest is fed as received data.
#include "textforms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace tolcom;
    if (size < 1)
        return 0;
    const size_t split = std::min<size_t>(data[0], size - 1);
    const char *block = reinterpret_cast<const char *>(data + 1);
    std::vector<std::string> strings;
    const LookUpListStatus status = readLookUpList(block, split, strings);
    if (strings.size() > kMaxLookUps || (status == LookUpListStatus::Unterminated && !strings.empty()))
        std::abort();
    LookUpMatcher matcher(strings);
    std::string seen;
    for (size_t i = 1 + split; i < size; ++i) {
        const char c = char(data[i]);
        seen += char(std::tolower(static_cast<unsigned char>(c)));
        const int idx = matcher.feed(c);
        if (idx < -1 || idx >= int(strings.size()))
            std::abort();
        if (idx >= 0) {
            std::string want = strings[size_t(idx)];
            std::transform(want.begin(), want.end(), want.begin(),
                [](char ch) { return char(std::tolower(static_cast<unsigned char>(ch))); });
            if (seen.size() < want.size() || seen.compare(seen.size() - want.size(), want.size(), want) != 0)
                std::abort();
        }
    }
    return 0;
}
