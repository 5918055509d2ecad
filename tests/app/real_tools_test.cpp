// The real nslookup, nmap, ping and httping against this machine's loopback only.
//
// nslookup is pointed at a small DNS responder on 127.0.0.1, because the machine's resolver may
// sit on another address; ping and httping run through wrappers that keep a copy of what the
// tool printed, so the stored sample can be compared with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <locale.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "app/latency_probe.h"
#include "app/scan_probe.h"
#include "tests/app/test_support.h"

namespace {

// A socket bound to 127.0.0.1; port 0 lets the system choose.
int bind_loopback(int type, uint16_t port) {
    const int fd = socket(AF_INET, type, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (type == SOCK_STREAM && listen(fd, 16) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t local_port(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// Serves until stopped, waking every 50 ms to look at the flag.
class LoopbackServer {
  public:
    LoopbackServer(int fd, void (*serve_one)(int))
        : fd_(fd), thread_([this, serve_one] { run(serve_one); }) {}
    ~LoopbackServer() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }

  private:
    void run(void (*serve_one)(int)) {
        while (!stop_) {
            pollfd p{.fd = fd_, .events = POLLIN, .revents = 0};
            if (poll(&p, 1, 50) > 0) serve_one(fd_);
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Answers every A question with 127.0.0.1 and every other question with no record.
void answer_dns(int fd) {
    unsigned char q[512];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 17) return;
    std::size_t end = 12;
    while (end < static_cast<std::size_t>(n) && q[end] != 0) end += q[end] + 1u;
    if (end + 5 > static_cast<std::size_t>(n)) return;
    const bool type_a = q[end + 1] == 0 && q[end + 2] == 1;
    std::vector<unsigned char> r(q, q + end + 5);
    r[2] = 0x81; // response, recursion desired
    r[3] = 0x80; // recursion available, no error
    r[6] = 0;
    r[7] = type_a ? 1 : 0;
    r[8] = r[9] = r[10] = r[11] = 0;
    if (type_a) {
        const unsigned char answer[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
        r.insert(r.end(), std::begin(answer), std::end(answer));
    }
    sendto(fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
}

// Reads the request head and answers 200 with an empty body; a scanner that only connects and
// leaves gets nothing.
void answer_http(int fd) {
    const int c = accept(fd, nullptr, nullptr);
    if (c < 0) return;
    std::string request;
    char buf[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd p{.fd = c, .events = POLLIN, .revents = 0};
        if (poll(&p, 1, 2000) <= 0) break;
        const ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
    }
    if (request.find("\r\n\r\n") != std::string::npos) {
        const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        if (write(c, reply.data(), reply.size()) < 0) {
        }
    }
    close(c);
}

// The number ping or httping printed after "time=", read independently of the probe.
double printed_time(const std::string& output) {
    const std::size_t at = output.find("time=");
    if (at == std::string::npos) return -1;
    return std::strtod(output.c_str() + at + 5, nullptr);
}

void write_script(const std::string& path, const std::string& body) {
    TempDir scratch;
    std::filesystem::copy_file(scratch.write("s", "#!/bin/sh\n" + body + "\n"), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

TEST(RealTools, RecordFillsFromLoopback) {
    const char* original_path = std::getenv("PATH");
    const std::string search = original_path ? original_path : "/usr/bin:/bin";
    const auto nslookup = find_program("nslookup", search);
    const auto nmap = find_program("nmap", search);
    const auto ping = find_program("ping", search);
    const auto httping = find_program("httping", search);
    if (!nslookup || !nmap || !ping || !httping) GTEST_SKIP() << "nslookup, nmap, ping or httping missing";

    const int dns_fd = bind_loopback(SOCK_DGRAM, 0);
    ASSERT_GE(dns_fd, 0);
    // nmap scans only well-known ports, so the web server takes one of those that is free.
    int http_fd = -1;
    for (uint16_t port : {8089, 8080, 8000, 8008, 8888, 9000, 8081, 3000, 5000}) {
        if ((http_fd = bind_loopback(SOCK_STREAM, port)) >= 0) break;
    }
    ASSERT_GE(http_fd, 0) << "no free well-known port on 127.0.0.1";
    const uint16_t http_port = local_port(http_fd);
    LoopbackServer dns(dns_fd, answer_dns);
    LoopbackServer web(http_fd, answer_http);

    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/bin");
    write_script(dir.path() + "/bin/nslookup",
                 "exec " + *nslookup + " -port=" + std::to_string(local_port(dns_fd)) + " \"$@\" 127.0.0.1");
    write_script(dir.path() + "/bin/ping", *ping + " \"$@\" | /usr/bin/tee " + dir.path() + "/ping.out");
    write_script(dir.path() + "/bin/httping",
                 *httping + " \"$@\" | /usr/bin/tee " + dir.path() + "/httping.out");
    ScopedEnv path("PATH", dir.path() + "/bin:" + search);

    ServerRecord record;
    record.name = "localhost";
    record.http_target = "127.0.0.1:" + std::to_string(http_port);
    probe_lookup_and_scan(record);
    EXPECT_EQ(record.ip, "127.0.0.1");
    EXPECT_EQ(record.up, 1);
    EXPECT_TRUE(has_expected_port(record, std::to_string(http_port) + "/tcp"))
        << record.nmap_lines[1] << " | " << record.nmap_lines[2];

    probe_ping(record);
    const double ping_printed = printed_time(read_file(dir.path() + "/ping.out"));
    ASSERT_GT(ping_printed, 0) << read_file(dir.path() + "/ping.out");
    EXPECT_EQ(record.ping_history[100], ping_printed);
    EXPECT_EQ(record.up, 1);

    probe_http(record, "");
    const double http_printed = printed_time(read_file(dir.path() + "/httping.out"));
    ASSERT_GT(http_printed, 0) << read_file(dir.path() + "/httping.out");
    EXPECT_EQ(record.http_history[100], http_printed);
}

// nmap refuses an IPv6 address without "-6" ("you have to use the -6 option") and scans nothing: the server
// "::1" is scanned over IPv6 and its open port is found. The lookup asks the loopback responder only.
TEST(RealTools, IPv6AddressIsScannedOverIPv6) {
    const char* original_path = std::getenv("PATH");
    const std::string search = original_path ? original_path : "/usr/bin:/bin";
    const auto nslookup = find_program("nslookup", search);
    const auto nmap = find_program("nmap", search);
    if (!nslookup || !nmap) GTEST_SKIP() << "nslookup or nmap missing";
    const int dns_fd = bind_loopback(SOCK_DGRAM, 0);
    ASSERT_GE(dns_fd, 0);
    int web_fd = -1;
    uint16_t web_port = 0;
    for (uint16_t port : {8089, 8080, 8000, 8008, 8888, 9000, 8081, 3000, 5000}) {
        web_fd = socket(AF_INET6, SOCK_STREAM, 0);
        if (web_fd < 0) GTEST_SKIP() << "no IPv6 here";
        const int on = 1;
        setsockopt(web_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in6 addr{};
        addr.sin6_family = AF_INET6;
        addr.sin6_port = htons(port);
        addr.sin6_addr = in6addr_loopback;
        if (bind(web_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(web_fd, 16) == 0) {
            web_port = port;
            break;
        }
        close(web_fd);
        web_fd = -1;
    }
    if (web_fd < 0) GTEST_SKIP() << "no free well-known port on ::1";
    LoopbackServer dns(dns_fd, answer_dns);
    LoopbackServer web(web_fd, answer_http);
    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/bin");
    write_script(dir.path() + "/bin/nslookup",
                 "exec " + *nslookup + " -port=" + std::to_string(local_port(dns_fd)) + " \"$@\" 127.0.0.1");
    ScopedEnv path("PATH", dir.path() + "/bin:" + search);

    ServerRecord record;
    record.name = "::1";
    probe_lookup_and_scan(record);
    EXPECT_EQ(record.up, 1);
    EXPECT_TRUE(has_expected_port(record, std::to_string(web_port) + "/tcp"))
        << record.nmap_lines[1] << " | " << record.nmap_lines[2];
}

// A target that takes the connection and never answers: httping gives up after its own two seconds and
// reports "100.00% failed", which marks the host down. With its default timeout every frame that probed
// such a target stood still for half a minute, and the host stayed up.
TEST(RealTools, SilentHttpTargetIsTotalLoss) {
    const char* original_path = std::getenv("PATH");
    if (!find_program("httping", original_path ? original_path : "/usr/bin:/bin"))
        GTEST_SKIP() << "no httping";
    // Listening but never accepting: the kernel completes the handshake and nothing ever replies.
    const int fd = bind_loopback(SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ServerRecord record;
    record.http_target = "127.0.0.1:" + std::to_string(local_port(fd));
    record.up = 1;
    const auto start = std::chrono::steady_clock::now();
    probe_http(record, "");
    const auto waited = std::chrono::steady_clock::now() - start;
    close(fd);
    EXPECT_EQ(record.up, 0);
    EXPECT_EQ(record.http_history[100], 0);
    // A bound far above the two seconds and far below the default thirty.
    EXPECT_LT(waited, std::chrono::seconds(15));
}

// A German desktop: httping writes "time=   0,52 ms" and "100,00% failed" there. The probes still take the
// value it measured and see a dead web server as down.
TEST(RealTools, GermanDesktopHttpValueAndOutage) {
    const char* original_path = std::getenv("PATH");
    const std::string search = original_path ? original_path : "/usr/bin:/bin";
    const auto httping = find_program("httping", search);
    if (!httping) GTEST_SKIP() << "no httping";
    const locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (german == nullptr) GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/install-deps generates it)";
    freelocale(german);

    const int http_fd = bind_loopback(SOCK_STREAM, 0);
    ASSERT_GE(http_fd, 0);
    const uint16_t http_port = local_port(http_fd);
    LoopbackServer web(http_fd, answer_http);
    // A port nobody listens on: bound and closed again.
    const int closed_fd = bind_loopback(SOCK_STREAM, 0);
    ASSERT_GE(closed_fd, 0);
    const uint16_t closed_port = local_port(closed_fd);
    close(closed_fd);

    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/bin");
    write_script(dir.path() + "/bin/httping",
                 *httping + " \"$@\" | /usr/bin/tee " + dir.path() + "/httping.out");
    ScopedEnv path("PATH", dir.path() + "/bin:" + search);
    ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    ScopedEnv lang("LANG", "de_DE.UTF-8");
    // What a German terminal shows: the tool really does write decimal commas here.
    ASSERT_EQ(std::system(("httping -h 127.0.0.1:" + std::to_string(closed_port) +
                           " -c 1 -t 2 -i 0.01 2>/dev/null | grep -q '100,00% failed'")
                              .c_str()),
              0);

    struct Case {
        const char* name;
        uint16_t port;
        bool answered;
    } const cases[] = {{"value", http_port, true}, {"outage", closed_port, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerRecord record;
        record.http_target = "127.0.0.1:" + std::to_string(c.port);
        record.up = 1;
        probe_http(record, "");
        std::string printed = read_file(dir.path() + "/httping.out");
        std::replace(printed.begin(), printed.end(), ',', '.');
        if (c.answered) {
            const double measured = printed_time(printed);
            ASSERT_GT(measured, 0) << printed;
            EXPECT_EQ(record.http_history[100], measured) << printed;
            EXPECT_EQ(record.up, 1);
        } else {
            EXPECT_EQ(record.http_history[100], 0) << printed;
            EXPECT_EQ(record.up, 0) << printed;
        }
    }
}

} // namespace
