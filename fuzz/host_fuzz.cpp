// The checks of a server name, an HTTP target and a proxy over arbitrary text: whatever they accept is one
// argument of a tool that no tool reads as an option (no leading '-', no blank, no control byte, nothing
// beyond ASCII), stands in the tools' argument vectors in its place between their fixed words, and is what
// its form says; the session the terminal runs holds it inside its quotes, with nothing the shell expands
// there. Nothing is started.
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/latency_probe.h"
#include "app/panel.h"
#include "app/scan_probe.h"
#include "app/shell_text.h"
#include "fuzz/fuzz_support.h"

namespace {

std::string without_trailing_blanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

void check_form(const TextCheck& c) {
    const std::string address = c.word.substr(0, c.word.find('%'));
    unsigned char bytes[16];
    switch (c.form) {
    case HostForm::IPV4:
        fuzz_check(inet_pton(AF_INET, c.word.c_str(), bytes) == 1, "an IPv4 address inet_pton refuses");
        break;
    case HostForm::IPV6:
        fuzz_check(inet_pton(AF_INET6, address.c_str(), bytes) == 1, "an IPv6 address inet_pton refuses");
        break;
    case HostForm::HOST_NAME:
        fuzz_check(c.word.find_first_not_of("0123456789.") != std::string::npos, "a name of digits alone");
        fuzz_check(c.word.find(':') == std::string::npos, "a name with a colon");
        break;
    }
}

void check_host_text(std::string_view text) {
    const TextCheck c = check_host(text);
    fuzz_check(c.ok == c.why.empty(), "a verdict without its reason, or a reason without a refusal");
    if (!c.ok) {
        fuzz_check(c.at <= text.size(), "a refusal at no position of the text");
        fuzz_check(!host_argument(text), "a refused name still yields an argument");
        return;
    }
    fuzz_check(one_word(c.word), "an accepted name that is not one plain word");
    fuzz_check(c.word == without_trailing_blanks(text), "the word is not the name as written");
    fuzz_check(c.word.find_first_of("\"$`\\!{}*?[]'~;&|<>()#=@/,") == std::string::npos,
               "an accepted name with a byte the shell or a URL reads");
    check_form(c);
    ServerRecord r;
    r.name = std::string(text);
    fuzz_check(lookup_arguments(r) == ToolArguments{"nslookup", c.word}, "another lookup");
    const bool v6 = c.form == HostForm::IPV6;
    fuzz_check(scan_arguments(r, false) ==
                   (v6 ? ToolArguments{"nmap", "-6", c.word} : ToolArguments{"nmap", c.word}),
               "another scan");
    fuzz_check(ping_arguments(r) == ToolArguments{"ping", c.word, "-c", "1", "-W", "1"}, "another ping");
    fuzz_check(session_command("xterm -e", SSH_SESSION, *host_argument(text)) ==
                   "xterm -e \"ssh -X root@" + c.word + "\"",
               "another session");
}

void check_target_text(std::string_view text) {
    const TextCheck c = check_http_target(text);
    fuzz_check(c.ok == c.why.empty(), "a target verdict without its reason");
    if (!c.ok) return;
    fuzz_check(one_word(c.word), "an accepted target that is not one plain word");
    fuzz_check(c.word.find_first_of("\"'`\\{}<>|^") == std::string::npos, "a target with a quote or a brace");
    ServerRecord r;
    r.name = "localhost";
    r.http_target = std::string(text);
    fuzz_check(http_arguments(r, "") ==
                   ToolArguments{"httping", "-h", c.word, "-c", "1", "-t", "2", "-i", "0.01"},
               "another HTTP probe");
}

void check_proxy_text(std::string_view text) {
    const TextCheck c = check_proxy(text);
    fuzz_check(c.ok == c.why.empty(), "a proxy verdict without its reason");
    if (!c.ok) return;
    fuzz_check(one_word(c.word), "an accepted proxy that is not one plain word");
    fuzz_check(c.word.find(':') != std::string::npos, "a proxy without its port");
    ServerRecord r;
    r.name = "localhost";
    r.http_target = "localhost";
    const ToolArguments http = http_arguments(r, text);
    fuzz_check(http.size() == 11 && http[3] == "-x" && http[4] == c.word, "another proxy argument");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_host_text(text);
    check_target_text(text);
    check_proxy_text(text);
    return 0;
}
