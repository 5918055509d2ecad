// The configuration reader over arbitrary files: at most six servers, every text that reaches a tool is
// one argument of it and never an option, port and HTTP lines land on the server before them, and the
// file number is closed again. The tools serve recorded output; nothing is started.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/config.h"
#include "app/latency_probe.h"
#include "app/scan_probe.h"
#include "app/shell_text.h"
#include "fuzz/fuzz_support.h"
#include "rt/files.h"

namespace {

std::string work_dir;

void remove_work_dir() {
    ::unlink((work_dir + "/" + std::string(CONFIG_FILE_NAME)).c_str());
    ::rmdir(work_dir.c_str());
}

bool write_config(std::string_view bytes) {
    std::FILE* f = std::fopen(std::string(CONFIG_FILE_NAME).c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!write_config(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
    ServerTable table;
    DashboardState state;
    const bool read = read_configuration(table, state);

    fuzz_check(read == (table.server_count > 0), "the result does not say whether a server was added");
    fuzz_check(table.server_count <= MAX_SERVERS, "more servers than the table holds");
    fuzz_check(rt_free_file() == 1, "the file number stayed open");
    fuzz_check(state.proxy.empty() || check_proxy(state.proxy).ok, "a proxy its check refuses");
    for (int i = 0; i < table.server_count; ++i) {
        const ServerRecord& r = table.servers[i];
        fuzz_check(check_host(r.name).ok, "a server name its check refuses");
        fuzz_check(r.name.find_first_not_of(' ') != std::string::npos, "a blank server name");
        fuzz_check(r.name.find('#') == std::string::npos, "a comment became a server");
        fuzz_check(!r.name.starts_with("port=") && !r.name.starts_with("http="),
                   "a key line became a server");
        fuzz_check(r.http_target.empty() || check_http_target(r.http_target).ok,
                   "an HTTP target its check refuses");
        fuzz_check(r.interval == DEFAULT_INTERVAL && r.last_probe == i, "a server was added half");
        fuzz_check(r.expected_ports[0].empty(), "entry 0 of the expected ports was written");
        // The recorded scan of an open FTP port landed on every server.
        fuzz_check(r.ip == "127.0.0.1" && r.up == 1, "the probe did not run for a server");
    }
    // The latency probes run later, from the panel. Every word from the file is one argument, in its place
    // between the fixed words.
    for (int i = 0; i < table.server_count; ++i) {
        const ServerRecord& r = table.servers[i];
        const ToolArguments ping = ping_arguments(r);
        fuzz_check(ping.size() == 6 && ping[0] == "ping" && one_word(ping[1]) && ping[2] == "-c",
                   "a ping command that is not ping, one host, and its options");
        const ToolArguments lookup = lookup_arguments(r);
        fuzz_check(lookup.size() == 2 && lookup[1] == ping[1], "a lookup of another host");
        const ToolArguments scan = scan_arguments(r, false);
        fuzz_check(scan.back() == ping[1] && (scan.size() == 2 || scan[1] == "-6"), "a scan of another host");
        const ToolArguments http = http_arguments(r, state.proxy);
        if (r.http_target.empty()) {
            fuzz_check(http.empty(), "an HTTP probe without a target");
            continue;
        }
        fuzz_check(http.size() >= 9 && http[1] == "-h" && one_word(http[2]),
                   "an HTTP target that is no word");
        if (!state.proxy.empty())
            fuzz_check(http.size() == 11 && http[3] == "-x" && one_word(http[4]), "a proxy that is no word");
    }
    const std::vector<std::string> commands = take_commands();
    fuzz_check(commands.size() == 2u * table.server_count, "the probes ran for a server that was not added");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/velmora-config-fuzz-XXXXXX";
    if (!::mkdtemp(dir) || ::chdir(dir) != 0) fuzz_fail("no working directory");
    work_dir = dir;
    std::atexit(remove_work_dir);
    serve_tools();
    serve_output("nslookup",
                 "Server:\t\t127.0.0.1\nAddress:\t127.0.0.1#53\n\nName:\tlocalhost\nAddress: 127.0.0.1\n");
    serve_output("nmap", "PORT   STATE SERVICE\n21/tcp open  ftp\n");
    return 0;
}
