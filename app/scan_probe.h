// Name lookup and port scan of one server through the system's nslookup and nmap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/command_lines.h"
#include "app/server_table.h"

// The port scan keeps at most this many port lines counted; the last of them is dropped.
inline constexpr uint8_t SCAN_LINE_LIMIT = 8;
// Past a full list, the FTP and SSH lines still go to these entries of nmap_lines, so that the
// panel's buttons for them find the service however many ports are open.
inline constexpr int FTP_LINE_SLOT = 7;
inline constexpr int SSH_LINE_SLOT = 8;
// has_expected_port looks at nmap_lines 1 up to this entry.
inline constexpr int LAST_CHECKED_PORT_LINE = 9;

// The tools' argument vectors; empty, so that nothing runs, when the name is refused by check_host. The scan
// is over IPv6 ("-6") when the name is an IPv6 address or the lookup found IPv6 addresses only.
[[nodiscard]] ToolArguments lookup_arguments(const ServerRecord& record);
[[nodiscard]] ToolArguments scan_arguments(const ServerRecord& record, bool ipv6_only);

// The answer addresses of one lookup, by family.
struct LookupAddresses {
    int ipv4 = 0;
    int ipv6 = 0;
};
// Counts the address of one line of nslookup output, if it is an answer's "Address: " line.
void note_lookup_address(LookupAddresses& found, std::string_view line);

// Takes the address and canonical name from one line of nslookup output.
void apply_lookup_line(ServerRecord& record, std::string_view line);
// Takes one line of nmap output; scan_count counts the port lines of this run, starting at 0.
void apply_scan_line(ServerRecord& record, uint8_t& scan_count, std::string_view line);

// Runs the lookup, then the scan, and updates ip, alias, nmap_lines and up from what they print.
// Values not found keep what they held. A name refused by check_host runs nothing.
void probe_lookup_and_scan(ServerRecord& record);

// True when one of nmap_lines 1..LAST_CHECKED_PORT_LINE begins with the port text (an empty text is always
// present).
[[nodiscard]] bool has_expected_port(const ServerRecord& record, std::string_view port);
