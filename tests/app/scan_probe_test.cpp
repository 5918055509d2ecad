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

TEST(ScanProbe, CommandLinesKeepTheNameExactlyTrailingSpacesIncluded) {
    ServerRecord record;
    record.name = "alpha  ";
    EXPECT_EQ(lookup_command(record), "nslookup alpha  ");
    EXPECT_EQ(scan_command(record), "nmap alpha  ");
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
