// Name lookup and port scan against recorded nslookup and nmap output.
#include <gtest/gtest.h>

#include "app/scan_probe.h"
#include "tests/app/test_support.h"

namespace {

// Runs the probe on a record named host with the two recorded outputs.
ServerRecord probe_with(FakeTools& fakes, const std::string& host, const std::string& lookup,
                        const std::string& scan) {
    if (!lookup.empty()) fakes.replay("nslookup", fixture(lookup));
    if (!scan.empty()) fakes.replay("nmap", fixture(scan));
    ServerRecord record;
    record.name = host;
    probe_lookup_and_scan(record);
    return record;
}

TEST(ScanProbe, RunsLookupThenScanWithTheNameAsTheOnlyArgument) {
    FakeTools fakes;
    const ServerRecord record = probe_with(fakes, "localhost", "nslookup_localhost.txt", "nmap_one_port.txt");
    EXPECT_EQ(fakes.calls(), (std::vector<std::string>{"nslookup [localhost]", "nmap [localhost]"}));
    EXPECT_EQ(record.ip, "127.0.0.1");
    EXPECT_EQ(record.alias, "");
    EXPECT_EQ(record.nmap_lines[1], "8089/tcp open  unknown");
    EXPECT_EQ(record.nmap_lines[2], "");
    EXPECT_EQ(record.up, 1);
}

using Words = std::vector<std::string>;

// "nslookup " + name and "nmap " + name, word for word; an IPv6 host is scanned with "-6".
TEST(ScanProbe, ArgumentVectorsAreTheWordsOfTheCommandLines) {
    struct Case {
        const char* name;
        bool ipv6_only; // what the lookup found
        Words lookup, scan;
    };
    const Case cases[] = {
        {"localhost", false, {"nslookup", "localhost"}, {"nmap", "localhost"}},
        {"web-1.example.com", false, {"nslookup", "web-1.example.com"}, {"nmap", "web-1.example.com"}},
        {"10.0.0.1", false, {"nslookup", "10.0.0.1"}, {"nmap", "10.0.0.1"}},
        {"alpha  ", false, {"nslookup", "alpha"}, {"nmap", "alpha"}},
        {"v6only.example", true, {"nslookup", "v6only.example"}, {"nmap", "-6", "v6only.example"}},
        {"::1", false, {"nslookup", "::1"}, {"nmap", "-6", "::1"}},
        {"fe80::1%eth0", false, {"nslookup", "fe80::1%eth0"}, {"nmap", "-6", "fe80::1%eth0"}},
        {"web1 reboot", false, {}, {}},
        {"{--script=/tmp/x/evil.nse,127.0.0.1}", false, {}, {}},
        {"-iL", true, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerRecord record;
        record.name = c.name;
        EXPECT_EQ(lookup_arguments(record), c.lookup);
        EXPECT_EQ(scan_arguments(record, c.ipv6_only), c.scan);
    }
}

// Real nslookup output: the name server's own "Address:" line (a tab after the colon) never counts, whichever
// family it is; only answers do.
TEST(ScanProbe, ScanIsOverIpv6WhenTheLookupFoundIpv6AddressesOnly) {
    struct Case {
        const char* host;
        const char* lookup;
        const char* scan_call;
        const char* ip;
    };
    const Case cases[] = {
        {"v6only.velmora.test", "nslookup_ipv6_only.txt", "nmap [-6] [v6only.velmora.test]", "2001:db8::8"},
        {"dual.velmora.test", "nslookup_dual.txt", "nmap [dual.velmora.test]", "::1"},
        {"v4only.velmora.test", "nslookup_ipv4_via_ipv6_server.txt", "nmap [v4only.velmora.test]",
         "127.0.0.9"},
        {"localhost", "nslookup_localhost.txt", "nmap [localhost]", "127.0.0.1"},
        {"nohost.invalid", "nslookup_nxdomain.txt", "nmap [nohost.invalid]", ""},
        {"gone.example", "nslookup_unreachable.txt", "nmap [gone.example]", ""},
        // An address line needs no lookup answer to be scanned over IPv6.
        {"::1", "nslookup_nxdomain.txt", "nmap [-6] [::1]", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        FakeTools fakes;
        const ServerRecord record = probe_with(fakes, c.host, c.lookup, "nmap_one_port.txt");
        EXPECT_EQ(fakes.calls(),
                  (std::vector<std::string>{"nslookup [" + std::string(c.host) + "]", c.scan_call}));
        EXPECT_EQ(record.ip, c.ip);
        EXPECT_EQ(record.nmap_lines[1], "8089/tcp open  unknown"); // the rest of the scan is as ever
        EXPECT_EQ(record.up, 1);
    }
}

TEST(ScanProbe, LookupAddressesAreCountedByFamily) {
    struct Case {
        const char* line;
        int ipv4, ipv6;
    };
    const Case cases[] = {
        {"Address: 127.0.0.1", 1, 0},      {"Address: 2001:db8::7", 0, 1}, {"Address: ::1  ", 0, 1},
        {"Address:\t127.0.0.53#53", 0, 0}, {"Address:\t::1#5353", 0, 0},   {"Address: ", 0, 0},
        {"Address: not-an-address", 0, 0}, {"Name:\tlocalhost", 0, 0},
    };
    for (const Case& c : cases) {
        LookupAddresses found;
        note_lookup_address(found, c.line);
        EXPECT_EQ(found.ipv4, c.ipv4) << c.line;
        EXPECT_EQ(found.ipv6, c.ipv6) << c.line;
    }
}

// A refused name runs neither tool.
TEST(ScanProbe, RefusedNamesRunNothing) {
    FakeTools fakes;
    for (const char* name : {"web1 reboot", "{--script=/tmp/x/evil.nse,127.0.0.1}", "-iL", "a;b", ""}) {
        const ServerRecord record = probe_with(fakes, name, "nslookup_localhost.txt", "nmap_one_port.txt");
        EXPECT_EQ(record.ip, "") << name;
        EXPECT_EQ(record.up, 0) << name;
    }
    EXPECT_TRUE(fakes.calls().empty());
}

TEST(ScanProbe, CanonicalNameAndLastAddressWin) {
    FakeTools fakes;
    const ServerRecord record = probe_with(fakes, "www.velmora.test", "nslookup_cname.txt", "");
    EXPECT_EQ(record.alias, "web.velmora.test.");
    EXPECT_EQ(record.ip, "127.0.0.2");
}

TEST(ScanProbe, LookupLines) {
    struct Case {
        const char* line;
        const char* ip;
        const char* alias;
    };
    const Case cases[] = {
        {"Address: 192.0.2.7", "192.0.2.7", "old alias"},
        // The address is the text from the tenth character, wherever the mark stands.
        {"xx Address: 192.0.2.7", "s: 192.0.2.7", "old alias"},
        {"Address:\t127.0.0.1#53", "old ip", "old alias"}, // the server line has a tab, not a blank
        {"www\tcanonical name = web.", "old ip", "web."},
        {"www\tcanonical name = ", "old ip", ""},
        {"Address: ", "", "old alias"},
        {"Name:\tlocalhost", "old ip", "old alias"},
    };
    for (const Case& c : cases) {
        ServerRecord record;
        record.ip = "old ip";
        record.alias = "old alias";
        apply_lookup_line(record, c.line);
        EXPECT_EQ(record.ip, c.ip) << c.line;
        EXPECT_EQ(record.alias, c.alias) << c.line;
    }
}

TEST(ScanProbe, FailedLookupKeepsPreviousValues) {
    for (const char* output : {"nslookup_nxdomain.txt", "nslookup_unreachable.txt"}) {
        FakeTools fakes;
        fakes.replay("nslookup", fixture(output));
        ServerRecord record;
        record.name = "nohost.invalid";
        record.ip = "192.0.2.1";
        record.alias = "kept";
        probe_lookup_and_scan(record);
        EXPECT_EQ(record.ip, "192.0.2.1") << output;
        EXPECT_EQ(record.alias, "kept") << output;
    }
}

TEST(ScanProbe, SevenPortLinesKeptTheEighthDroppedTheNinthIgnored) {
    FakeTools fakes;
    const ServerRecord record = probe_with(fakes, "127.0.0.1", "", "nmap_many_ports.txt");
    const std::vector<std::string> expected = {
        "",
        "21/tcp    open  ftp",
        "22/tcp    open  ssh",
        "25/tcp    open  smtp",
        "80/tcp    open  http",
        "111/tcp   open  rpcbind",
        "443/tcp   open  https",
        "3306/tcp  open  mysql",
        "", // 5432 was the eighth port line
        "",
        "",
    };
    EXPECT_EQ(std::vector<std::string>(record.nmap_lines.begin(), record.nmap_lines.end()), expected);
    EXPECT_EQ(record.up, 1);
    EXPECT_TRUE(has_expected_port(record, "3306/tcp"));
    EXPECT_FALSE(has_expected_port(record, "5432/tcp"));
}

TEST(ScanProbe, FtpAndSshLinesAfterAFullListGoToEntriesSevenAndEight) {
    FakeTools fakes;
    const ServerRecord record = probe_with(fakes, "127.0.0.1", "", "nmap_ftp_ssh_after_full.txt");
    EXPECT_EQ(record.nmap_lines[6], "5432/tcp  open  postgresql");
    EXPECT_EQ(record.nmap_lines[7], "21/tcp    open   ftp");
    EXPECT_EQ(record.nmap_lines[8], "22/tcp    open   ssh");
    EXPECT_EQ(record.nmap_lines[9], "");
}

TEST(ScanProbe, ScanLineRules) {
    struct Step {
        const char* line;
        uint8_t count_after;
    };
    // Eight port lines, then the special lines; an FTP line inside the first seven is ordinary.
    ServerRecord record;
    uint8_t count = 0;
    const Step steps[] = {
        {"21/tcp    open   ftp", 1},
        {"53/udp open domain", 2},
        {"Not shown: 996 closed tcp ports", 2},
        {"3/tcp open x", 3},
        {"4/tcp open x", 4},
        {"5/tcp open x", 5},
        {"6/tcp open x", 6},
        {"7/tcp open x", 7},
        {"22/tcp    open   ssh", 8},
        {"9/tcp open x", 8},
        {"21/tcp    open   ftp extra", 8},
    };
    for (const Step& s : steps) {
        apply_scan_line(record, count, s.line);
        EXPECT_EQ(count, s.count_after) << s.line;
    }
    EXPECT_EQ(record.nmap_lines[1], "21/tcp    open   ftp");
    EXPECT_EQ(record.nmap_lines[2], "53/udp open domain");
    EXPECT_EQ(record.nmap_lines[7], "21/tcp    open   ftp extra");
    EXPECT_EQ(record.nmap_lines[8], ""); // the SSH line was itself the eighth port line
    apply_scan_line(record, count, "x 22/tcp    open   ssh");
    EXPECT_EQ(record.nmap_lines[8], "x 22/tcp    open   ssh");
}

TEST(ScanProbe, HostDownClearsUpAndALaterPortLineSetsItAgain) {
    ServerRecord record;
    uint8_t count = 0;
    apply_scan_line(record, count, "22/tcp open  ssh");
    ASSERT_EQ(record.up, 1);
    apply_scan_line(record, count,
                    "Note: Host seems down. If it is really up, but blocking our ping probes, try -Pn");
    EXPECT_EQ(record.up, 0);
    apply_scan_line(record, count, "80/tcp open  http");
    EXPECT_EQ(record.up, 1);
}

TEST(ScanProbe, HostDownOutputLeavesEarlierPortLinesAndClearsUp) {
    FakeTools fakes;
    fakes.replay("nmap", fixture("nmap_host_down.txt"));
    ServerRecord record;
    record.name = "127.0.0.1";
    record.up = 1;
    record.nmap_lines[1] = "22/tcp open  ssh";
    probe_lookup_and_scan(record);
    EXPECT_EQ(record.up, 0);
    EXPECT_EQ(record.nmap_lines[1], "22/tcp open  ssh");
}

TEST(ScanProbe, NoPortLinesLeavesUpAtZeroAndAShorterScanKeepsOldLines) {
    FakeTools fakes;
    ServerRecord record = probe_with(fakes, "127.0.0.1", "", "nmap_no_ports.txt");
    EXPECT_EQ(record.up, 0);
    fakes.replay("nmap", fixture("nmap_many_ports.txt"));
    probe_lookup_and_scan(record);
    fakes.replay("nmap", fixture("nmap_ftp_ssh.txt"));
    probe_lookup_and_scan(record);
    EXPECT_EQ(record.nmap_lines[1], "21/tcp open  ftp");
    EXPECT_EQ(record.nmap_lines[2], "22/tcp open  ssh");
    EXPECT_EQ(record.nmap_lines[3], "25/tcp    open  smtp");
}

TEST(ScanProbe, ExpectedPortIsAPrefixOfEntriesOneToNine) {
    ServerRecord record;
    record.nmap_lines[1] = "8080/tcp open  http-proxy";
    record.nmap_lines[9] = "443/tcp open  https";
    record.nmap_lines[10] = "25/tcp open  smtp";
    record.nmap_lines[0] = "53/tcp open  domain";
    struct Case {
        const char* port;
        bool present;
    };
    const Case cases[] = {
        {"80", true},      {"8080/tcp", true}, {"443/tcp", true},   {"", true},
        {"25/tcp", false}, {"53/tcp", false},  {"8080/TCP", false}, {"8080/tcp open  http-proxy!", false},
    };
    for (const Case& c : cases) EXPECT_EQ(has_expected_port(record, c.port), c.present) << c.port;
}

TEST(ScanProbe, UnsafeNameRunsNothing) {
    FakeTools fakes;
    fakes.replay("nmap", fixture("nmap_one_port.txt"));
    for (const char* name : {"alpha;touch x", "$(id)", "a\nb", "a`b`"}) {
        ServerRecord record;
        record.name = name;
        probe_lookup_and_scan(record);
        EXPECT_EQ(record.up, 0) << name;
    }
    EXPECT_TRUE(fakes.calls().empty());
}

} // namespace
