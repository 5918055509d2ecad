// The nslookup and nmap output parser over many lines: the probe reading its pipes ends with the same
// record as apply_lookup_line and apply_scan_line fed line by line, and what it keeps obeys the
// scan's rules. The same bytes are served to both tools.
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/scan_probe.h"
#include "fuzz/fuzz_support.h"
#include "rt/files.h"

namespace {

bool same(const ServerRecord& a, const ServerRecord& b) {
    return a.ip == b.ip && a.alias == b.alias && a.nmap_lines == b.nmap_lines && a.up == b.up;
}

// The answers' address families, read apart from the probe: the text after "Address: ", blanks and tabs at
// its end dropped, as inet_pton reads it.
bool only_ipv6_answers(const std::vector<std::string>& lines) {
    int v4 = 0, v6 = 0;
    for (const std::string& line : lines) {
        const std::size_t at = line.find("Address: ");
        if (at == std::string::npos) continue;
        std::string text = line.substr(at + 9);
        text.erase(text.find_last_not_of(" \t") + 1);
        unsigned char bytes[16];
        v4 += inet_pton(AF_INET, text.c_str(), bytes) == 1;
        v6 += inet_pton(AF_INET6, text.c_str(), bytes) == 1;
    }
    return v6 > 0 && v4 == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    serve_output("nslookup", bytes);
    serve_output("nmap", bytes);
    const std::vector<std::string> lines = split_lines(bytes);

    // Values from an earlier run stay unless a line replaces them.
    ServerRecord direct;
    direct.name = "localhost";
    direct.ip = "192.0.2.1";
    direct.alias = "earlier";
    for (int i = 1; i < PORT_SLOTS; ++i) direct.nmap_lines[i] = "earlier " + std::to_string(i);
    direct.up = 1;
    ServerRecord piped = direct;

    for (const std::string& line : lines) apply_lookup_line(direct, line);
    uint8_t scan_count = 0;
    int port_lines = 0;
    for (const std::string& line : lines) {
        apply_scan_line(direct, scan_count, line);
        fuzz_check(scan_count <= SCAN_LINE_LIMIT, "the scan counted past its limit");
        if (line.find("/tcp") != std::string::npos || line.find("/udp") != std::string::npos) ++port_lines;
    }
    fuzz_check(scan_count == std::min(port_lines, int{SCAN_LINE_LIMIT}), "the scan miscounted port lines");
    fuzz_check(direct.nmap_lines[0].empty(), "entry 0 of the port lines was written");
    fuzz_check(direct.nmap_lines[9] == "earlier 9" && direct.nmap_lines[10] == "earlier 10",
               "the scan wrote past entry 8");
    for (int i = 1; i <= 8; ++i) {
        const std::string& kept = direct.nmap_lines[i];
        fuzz_check(kept == "earlier " + std::to_string(i) || kept.find("/tcp") != std::string::npos ||
                       kept.find("/udp") != std::string::npos,
                   "a kept line is no port line");
    }

    probe_lookup_and_scan(piped);
    fuzz_check(same(direct, piped), "the probe and the line parsers disagree");
    const std::vector<std::string> commands = take_commands();
    const std::string scan = only_ipv6_answers(lines) ? "nmap -6 localhost" : "nmap localhost";
    fuzz_check(commands.size() == 2 && commands[0] == "nslookup localhost" && commands[1] == scan,
               "the probe ran other commands");
    fuzz_check(rt_free_file() == 1, "a pipe stayed open");
    // Every kept line counts as present for a port text that is the line itself.
    for (int i = 1; i <= 9; ++i)
        fuzz_check(has_expected_port(piped, piped.nmap_lines[i]), "a kept line is not found as a port");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    serve_tools();
    return 0;
}
