// Reading the port map (see portmap.h).
#include "portmap.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tolcom {
namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Decimal digits only, within [low, high].
bool readNumber(std::string_view s, long low, long high, long &out)
{
    if (s.empty() || s.size() > 6)
        return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high)
        return false;
    out = v;
    return true;
}

bool validHostName(std::string_view h)
{
    if (h.empty() || h.size() > 253)
        return false;
    for (char c : h) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '-' && c != '.' && c != '_')
            return false;
    }
    return h.front() != '-' && h.front() != '.';
}

bool validIpv6(std::string_view h)
{
    if (h.size() < 2 || h.size() > 45)
        return false;
    for (char c : h) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
            return false;
    }
    return h.find(':') != std::string_view::npos;
}

} // namespace

std::string PortTarget::endpoint() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string PortTarget::url() const
{
    return std::string(kind == Rfc2217 ? "rfc2217://" : "tcp://") + endpoint();
}

MapLine parsePortMapLine(std::string_view line, int &comPort, PortTarget &target, std::string &why)
{
    line = trim(line);
    if (line.empty() || line.front() == '#' || line.front() == ';')
        return MapLine::Blank;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        why = "expected COM<n> = tcp://host:port or rfc2217://host:port";
        return MapLine::Bad;
    }
    const std::string_view name = trim(line.substr(0, eq));
    std::string_view url = trim(line.substr(eq + 1));
    long number = 0;
    if (name.size() < 4 || !equalsNoCase(name.substr(0, 3), "COM") || !readNumber(name.substr(3), 1, 32767, number)) {
        why = "the port must be COM1 to COM32767";
        return MapLine::Bad;
    }
    PortTarget t;
    const size_t sep = url.find("://");
    if (sep == std::string_view::npos) {
        why = "the address must start with tcp:// or rfc2217://";
        return MapLine::Bad;
    }
    const std::string_view scheme = url.substr(0, sep);
    if (equalsNoCase(scheme, "tcp") || equalsNoCase(scheme, "raw")) {
        t.kind = PortTarget::Tcp;
    } else if (equalsNoCase(scheme, "rfc2217") || equalsNoCase(scheme, "telnet")) {
        t.kind = PortTarget::Rfc2217;
    } else {
        why = "unknown kind of address \"" + std::string(scheme) + "\" (tcp or rfc2217)";
        return MapLine::Bad;
    }
    url.remove_prefix(sep + 3);
    if (!url.empty() && url.back() == '/')
        url.remove_suffix(1);
    std::string_view host;
    std::string_view portText;
    if (!url.empty() && url.front() == '[') {
        const size_t close = url.find(']');
        if (close == std::string_view::npos || close + 1 >= url.size() || url[close + 1] != ':') {
            why = "an IPv6 address is written [address]:port";
            return MapLine::Bad;
        }
        host = url.substr(1, close - 1);
        portText = url.substr(close + 2);
        if (!validIpv6(host)) {
            why = "\"" + std::string(host) + "\" is not an IPv6 address";
            return MapLine::Bad;
        }
    } else {
        const size_t colon = url.rfind(':');
        if (colon == std::string_view::npos) {
            why = "the address has no TCP port (host:port)";
            return MapLine::Bad;
        }
        host = url.substr(0, colon);
        portText = url.substr(colon + 1);
        if (!validHostName(host)) {
            why = "\"" + std::string(host) + "\" is not a host name or address";
            return MapLine::Bad;
        }
    }
    long tcpPort = 0;
    if (!readNumber(portText, 1, 65535, tcpPort)) {
        why = "the TCP port must be a number from 1 to 65535";
        return MapLine::Bad;
    }
    t.host = std::string(host);
    t.port = uint16_t(tcpPort);
    comPort = int(number);
    target = std::move(t);
    return MapLine::Entry;
}

PortMap parsePortMap(std::string_view text, std::string_view fileName)
{
    PortMap map;
    int lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r')
            ++pos;
        if (pos < text.size() && text[pos] == '\n')
            ++pos;
        ++lineNo;
        int com = 0;
        PortTarget target;
        std::string why;
        const std::string where = std::string(fileName) + " line " + std::to_string(lineNo) + ": ";
        switch (parsePortMapLine(line, com, target, why)) {
        case MapLine::Blank:
            break;
        case MapLine::Bad:
            map.problems.push_back(where + why + "; the line is ignored");
            break;
        case MapLine::Entry:
            target.line = lineNo;
            if (map.ports.count(com)) {
                map.problems.push_back(where + "COM" + std::to_string(com) + " is already mapped on line "
                    + std::to_string(map.ports[com].line) + "; the line is ignored");
            } else {
                map.ports.emplace(com, std::move(target));
            }
            break;
        }
    }
    return map;
}

std::string portMapPath()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (xdg && *xdg) {
        dir = xdg;
    } else {
        const char *home = std::getenv("HOME");
        dir = std::string(home ? home : "") + "/.config";
    }
    return dir + "/tolcom-ports.conf";
}

PortMap loadPortMap()
{
    std::ifstream in(portMapPath(), std::ios::binary);
    if (!in)
        return {};
    // A map is a handful of lines; anything past 64 KB is not one.
    std::string text(64 * 1024, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    return parsePortMap(text);
}

} // namespace tolcom
