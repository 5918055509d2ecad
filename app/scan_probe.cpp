#include "app/scan_probe.h"

#include <arpa/inet.h>

#include "app/command_lines.h"
#include "app/shell_text.h"

namespace {

constexpr std::string_view ADDRESS_MARK = "Address: ";
constexpr std::string_view CANONICAL_MARK = "canonical name = ";
constexpr std::string_view FTP_OPEN = "21/tcp    open   ftp";
constexpr std::string_view SSH_OPEN = "22/tcp    open   ssh";
constexpr std::string_view HOST_DOWN = "Note: Host seems down.";
// The address is taken from the tenth character of the line, where it stands when the line
// begins with the mark.
constexpr std::size_t ADDRESS_COLUMN = 9;

bool contains(std::string_view line, std::string_view text) {
    return line.find(text) != std::string_view::npos;
}

} // namespace

ToolArguments lookup_arguments(const ServerRecord& record) {
    const std::optional<std::string> host = host_argument(record.name);
    if (!host) return {};
    return {"nslookup", *host};
}

ToolArguments scan_arguments(const ServerRecord& record, bool ipv6_only) {
    const TextCheck host = check_host(record.name);
    if (!host.ok) return {};
    // nmap scans IPv4 unless told otherwise: a host it can reach only over IPv6 would read as down.
    if (ipv6_only || host.form == HostForm::IPV6) return {"nmap", "-6", host.word};
    return {"nmap", host.word};
}

void note_lookup_address(LookupAddresses& found, std::string_view line) {
    // The same lines apply_lookup_line takes the address from; the name server's own line has a tab after
    // "Address:", not a blank, and never counts.
    const std::size_t mark = line.find(ADDRESS_MARK);
    if (mark == std::string_view::npos) return;
    std::string address(line.substr(mark + ADDRESS_MARK.size()));
    while (!address.empty() && (address.back() == ' ' || address.back() == '\t')) address.pop_back();
    unsigned char parsed[sizeof(in6_addr)];
    if (inet_pton(AF_INET, address.c_str(), parsed) == 1) {
        ++found.ipv4;
    } else if (inet_pton(AF_INET6, address.c_str(), parsed) == 1) {
        ++found.ipv6;
    }
}

void apply_lookup_line(ServerRecord& record, std::string_view line) {
    if (contains(line, ADDRESS_MARK)) {
        record.ip = rest_from(line, ADDRESS_COLUMN);
        return;
    }
    const std::size_t p = line.find(CANONICAL_MARK);
    if (p != std::string_view::npos) record.alias = rest_from(line, p + CANONICAL_MARK.size());
}

void apply_scan_line(ServerRecord& record, uint8_t& scan_count, std::string_view line) {
    const bool port_line = contains(line, "/tcp") || contains(line, "/udp");
    if (port_line && scan_count < SCAN_LINE_LIMIT) {
        record.up = 1;
        ++scan_count;
        if (scan_count < SCAN_LINE_LIMIT) record.nmap_lines[scan_count] = std::string(line);
    } else if (scan_count >= SCAN_LINE_LIMIT && contains(line, FTP_OPEN)) {
        record.nmap_lines[FTP_LINE_SLOT] = std::string(line);
    } else if (scan_count >= SCAN_LINE_LIMIT && contains(line, SSH_OPEN)) {
        record.nmap_lines[SSH_LINE_SLOT] = std::string(line);
    } else if (contains(line, HOST_DOWN)) {
        record.up = 0;
    }
}

void probe_lookup_and_scan(ServerRecord& record) {
    if (!host_argument(record.name)) return;
    LookupAddresses found;
    read_command_lines(lookup_arguments(record), [&](std::string_view line) {
        apply_lookup_line(record, line);
        note_lookup_address(found, line);
    });
    uint8_t scan_count = 0;
    read_command_lines(scan_arguments(record, found.ipv6 > 0 && found.ipv4 == 0),
                       [&](std::string_view line) { apply_scan_line(record, scan_count, line); });
}

bool has_expected_port(const ServerRecord& record, std::string_view port) {
    for (int i = 1; i <= LAST_CHECKED_PORT_LINE; ++i) {
        if (std::string_view(record.nmap_lines[i]).starts_with(port)) return true;
    }
    return false;
}
