// Which tools the probes need and which of them the search path lacks.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "app/tool_check.h"
#include "tests/app/test_support.h"

namespace {

TEST(ToolCheck, TheHttpProbeIsNeededOnlyWithATarget) {
    ServerTable table;
    table.server_count = 2;
    table.servers[0].name = "alpha";
    table.servers[1].name = "beta";
    EXPECT_EQ(tools_needed(table), (std::vector<std::string_view>{"nslookup", "nmap", "ping"}));
    table.servers[1].http_target = "beta/status";
    EXPECT_EQ(tools_needed(table), (std::vector<std::string_view>{"nslookup", "nmap", "ping", "httping"}));
    table.server_count = 1; // the target is on a server the table no longer counts
    EXPECT_EQ(tools_needed(table), (std::vector<std::string_view>{"nslookup", "nmap", "ping"}));
}

// Only a regular file we may run counts, in any folder of the path; an empty folder name is the working
// folder, as the shell reads it.
TEST(ToolCheck, OnlyARunnableFileOnThePathCounts) {
    TempDir dir;
    const std::string a = dir.path() + "/a", b = dir.path() + "/b";
    std::filesystem::create_directories(a);
    std::filesystem::create_directories(b + "/nmap"); // a folder of the name
    chmod(dir.write("a/ping", "#!/bin/sh\n").c_str(), 0755);
    chmod(dir.write("b/nslookup", "not a program\n").c_str(), 0644);
    chmod(dir.write("b/httping", "#!/bin/sh\n").c_str(), 0755);
    const std::vector<std::string_view> all{"nslookup", "nmap", "ping", "httping"};
    struct Case {
        std::string path;
        std::vector<std::string_view> missing;
    } const cases[] = {
        {a, {"nslookup", "nmap", "httping"}},
        {b, {"nslookup", "nmap", "ping"}},
        {a + ":" + b, {"nslookup", "nmap"}},
        {"", all},
        {"/nowhere:" + b + ":", {"nslookup", "nmap", "ping"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(tools_missing(all, c.path), c.missing);
    }
    ScopedCwd in_a(a);
    EXPECT_EQ(tools_missing({"ping"}, "/nowhere:"), std::vector<std::string_view>{});
    EXPECT_EQ(tools_missing({"ping"}, ":/nowhere"), std::vector<std::string_view>{});
    EXPECT_EQ(tools_missing({"ping"}, "/nowhere"), std::vector<std::string_view>{"ping"});
}

} // namespace
