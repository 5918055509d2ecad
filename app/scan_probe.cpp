#include "app/scan_probe.h"

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

std::string lookup_command(const ServerRecord& record) {
    return "nslookup " + record.name;
}

std::string scan_command(const ServerRecord& record) {
    return "nmap " + record.name;
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
    if (!is_shell_safe(record.name)) return;
    read_command_lines(lookup_command(record),
                       [&](std::string_view line) { apply_lookup_line(record, line); });
    uint8_t scan_count = 0;
    read_command_lines(scan_command(record),
                       [&](std::string_view line) { apply_scan_line(record, scan_count, line); });
}

bool has_expected_port(const ServerRecord& record, std::string_view port) {
    for (int i = 1; i <= LAST_CHECKED_PORT_LINE; ++i) {
        if (std::string_view(record.nmap_lines[i]).starts_with(port)) return true;
    }
    return false;
}
