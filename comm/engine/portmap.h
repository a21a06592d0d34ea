// The port map: a per-user file that sends a port number to a network serial
// server instead of a device. One entry per line:
//
//     COM3 = tcp://studio-rack-2:4001       raw TCP, bytes as they are
//     COM4 = rfc2217://tally-gw:2217        Telnet with the COM-port option
//     # or ; starts a comment
//
// The file is $XDG_CONFIG_HOME/tolcom-ports.conf (~/.config when unset), next
// to the programs' settings. It is read again at every open, so an edit takes
// effect the next time the port is opened. Ports not in the map open devices.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tolcom {

struct PortTarget {
    enum Kind { Tcp, Rfc2217 };
    Kind kind = Tcp;
    std::string host; // name, IPv4 address or IPv6 address (without brackets)
    uint16_t port = 0;
    int line = 0; // line of the map it came from

    // "studio-rack-2:4001", "[::1]:4001"
    std::string endpoint() const;
    // "tcp://studio-rack-2:4001"
    std::string url() const;
};

struct PortMap {
    std::map<int, PortTarget> ports;
    // "tolcom-ports.conf line 3: ..." for every line that was ignored.
    std::vector<std::string> problems;
};

enum class MapLine { Blank, Entry, Bad };

// Reads one line. On Entry, comPort and target are set; on Bad, why says what
// is wrong with it.
MapLine parsePortMapLine(std::string_view line, int &comPort, PortTarget &target, std::string &why);

// Reads a whole map text. Bad lines and repeated ports are reported in
// problems (with their line numbers) and ignored; the first entry for a port
// wins.
PortMap parsePortMap(std::string_view text, std::string_view fileName = "tolcom-ports.conf");

// The map file's path, and the map read from it (empty when there is none).
std::string portMapPath();
PortMap loadPortMap();

} // namespace tolcom
