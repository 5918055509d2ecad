// What a server line, an HTTP target and a proxy may be: each accepted form with the word the tools get, and
// each refusal with its reason and the byte it names.
#include <gtest/gtest.h>

#include "app/shell_text.h"

namespace {

struct Accepted {
    const char* text;
    const char* word;
    HostForm form;
};

struct Refused {
    std::string text;
    std::size_t at;
    const char* why;
};

void expect_accepted(TextCheck (*check)(std::string_view), const Accepted& c) {
    const TextCheck got = check(c.text);
    EXPECT_TRUE(got.ok) << got.why << " at " << got.at;
    EXPECT_EQ(got.word, c.word);
    EXPECT_EQ(got.form, c.form);
}

void expect_refused(TextCheck (*check)(std::string_view), const Refused& c) {
    const TextCheck got = check(c.text);
    EXPECT_FALSE(got.ok) << got.word;
    EXPECT_EQ(got.why, c.why);
    EXPECT_EQ(got.at, c.at);
}

TEST(HostCheck, AcceptedForms) {
    const Accepted cases[] = {
        {"localhost", "localhost", HostForm::HOST_NAME},
        {"web-1.example.com", "web-1.example.com", HostForm::HOST_NAME},
        {"_srv.example", "_srv.example", HostForm::HOST_NAME},
        {"example.com.", "example.com.", HostForm::HOST_NAME}, // fully qualified
        {"host-", "host-", HostForm::HOST_NAME},
        {"xn--hst-sna.example", "xn--hst-sna.example", HostForm::HOST_NAME},
        {"1a.2.3.4", "1a.2.3.4", HostForm::HOST_NAME},
        {"10.0.0.1", "10.0.0.1", HostForm::IPV4},
        {"0.0.0.0", "0.0.0.0", HostForm::IPV4},
        {"255.255.255.255", "255.255.255.255", HostForm::IPV4},
        {"::1", "::1", HostForm::IPV6},
        {"2001:db8::7", "2001:db8::7", HostForm::IPV6},
        {"fe80::1%eth0", "fe80::1%eth0", HostForm::IPV6},
        {"fe80::1%2", "fe80::1%2", HostForm::IPV6},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1", HostForm::IPV6},
        // Trailing blanks were never a word of their own for the tools; they still are not.
        {"alpha  ", "alpha", HostForm::HOST_NAME},
        {"::1 ", "::1", HostForm::IPV6},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(c.text);
        expect_accepted(check_host, c);
        EXPECT_EQ(host_argument(c.text), std::optional<std::string>(c.word));
    }
}

TEST(HostCheck, RefusedWithReasons) {
    const std::string long_label(64, 'a');
    std::string long_name;
    for (int i = 0; i < 64; ++i) long_name += "abc.";
    const Refused cases[] = {
        {"web1 reboot", 4, "enthält ein Leerzeichen"},
        {" alpha", 0, "enthält ein Leerzeichen"},
        {"a\tb", 1, "enthält das Steuerzeichen 0x09"},
        {std::string("a\0b", 3), 1, "enthält das Steuerzeichen 0x00"},
        {"a\x7F", 1, "enthält das Steuerzeichen 0x7F"},
        {"h\xC3\xB6st", 1, "enthält das Byte 0xC3 außerhalb von ASCII"},
        {"{--script=/tmp/x/evil.nse,127.0.0.1}", 0, "enthält das unzulässige Zeichen '{'"},
        {"a{b,c}", 1, "enthält das unzulässige Zeichen '{'"},
        {"alpha;id", 5, "enthält das unzulässige Zeichen ';'"},
        {"a$(id)", 1, "enthält das unzulässige Zeichen '$'"},
        {"\"a\"", 0, "enthält das unzulässige Zeichen '\"'"},
        {"'a'", 0, "enthält das unzulässige Zeichen '''"},
        {"a*", 1, "enthält das unzulässige Zeichen '*'"},
        {"~root", 0, "enthält das unzulässige Zeichen '~'"},
        {"user@host", 4, "enthält das unzulässige Zeichen '@'"},
        {"a/b", 1, "enthält das unzulässige Zeichen '/'"},
        {"-iL", 0, "beginnt mit '-', das ein Werkzeug als Option lesen würde"},
        {"--script=x", 0, "beginnt mit '-', das ein Werkzeug als Option lesen würde"},
        {"-::1", 0, "beginnt mit '-', das ein Werkzeug als Option lesen würde"},
        {".alpha", 0, "beginnt mit '.'"},
        {"a..b", 2, "enthält einen leeren Namensteil ('..')"},
        {"a.b..", 4, "enthält einen leeren Namensteil ('..')"},
        {long_label + ".example", 0, "hat einen Namensteil mit mehr als 63 Zeichen"},
        {long_name, 253, "ist länger als 253 Zeichen"},
        {"", 0, "nennt keinen Host"},
        {"   ", 0, "nennt keinen Host"},
        // Digits and dots are an address to every tool; what is not one is refused, not guessed at.
        {"256.0.0.1", 0, "ist keine gültige IPv4-Adresse"},
        {"1.2.3", 0, "ist keine gültige IPv4-Adresse"},
        {"1.2.3.4.5", 0, "ist keine gültige IPv4-Adresse"},
        {"010.0.0.1", 0, "ist keine gültige IPv4-Adresse"}, // ping would read 8.0.0.1
        {"1234", 0, "ist keine gültige IPv4-Adresse"},
        {"1:2:3", 0, "ist keine gültige IPv6-Adresse"},
        {":::1", 0, "ist keine gültige IPv6-Adresse"},
        {"web1:8080", 0, "enthält das unzulässige Zeichen 'w'"},
        {"[::1]", 0, "enthält das unzulässige Zeichen '['"},
        {"fe80::1%", 7, "hat keine gültige Zone nach '%' (eine Schnittstelle wie eth0)"},
        {"fe80::1%-x", 8, "hat eine Zone, die mit '-' beginnt"},
        {"fe80::1%eth0;id", 12, "enthält das unzulässige Zeichen ';'"},
        {"fe80::1%abcdefghijklmnop", 7, "hat keine gültige Zone nach '%' (eine Schnittstelle wie eth0)"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.text);
        expect_refused(check_host, c);
        EXPECT_EQ(host_argument(c.text), std::nullopt);
    }
}

TEST(HttpTargetCheck, AcceptedForms) {
    const Accepted cases[] = {
        {"web1", "web1", HostForm::HOST_NAME},
        {"web1:8080/status", "web1:8080/status", HostForm::HOST_NAME},
        {"http://web1:8080/status", "http://web1:8080/status", HostForm::HOST_NAME},
        {"https://web-1.example.com/", "https://web-1.example.com/", HostForm::HOST_NAME},
        {"10.0.0.1/a/b.html", "10.0.0.1/a/b.html", HostForm::IPV4},
        {"127.0.0.1:8089", "127.0.0.1:8089", HostForm::IPV4},
        {"web/q?a=1&b=x+y;z", "web/q?a=1&b=x+y;z", HostForm::HOST_NAME},
        {"web/%7Euser/(x)*!,$@:", "web/%7Euser/(x)*!,$@:", HostForm::HOST_NAME},
        {"::1", "::1", HostForm::IPV6},
        {"[::1]", "[::1]", HostForm::IPV6},
        {"[::1]:8080/status", "[::1]:8080/status", HostForm::IPV6},
        {"http://[fe80::1%eth0]:80/", "http://[fe80::1%eth0]:80/", HostForm::IPV6},
        {"web:65535", "web:65535", HostForm::HOST_NAME},
        {"two ", "two", HostForm::HOST_NAME},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(c.text);
        expect_accepted(check_http_target, c);
    }
}

TEST(HttpTargetCheck, RefusedWithReasons) {
    const Refused cases[] = {
        {"{-x,evil.example:8080}127.0.0.1", 0, "enthält das unzulässige Zeichen '{'"},
        {"-x", 0, "beginnt mit '-', das ein Werkzeug als Option lesen würde"},
        {"http://-x", 7, "beginnt mit '-', das ein Werkzeug als Option lesen würde"},
        {"web -x y", 3, "enthält ein Leerzeichen"},
        {"web/a b", 5, "enthält ein Leerzeichen"},
        {"web/{a,b}", 4, "enthält das unzulässige Zeichen '{'"},
        {"web/'a'", 4, "enthält das unzulässige Zeichen '''"},
        {"web/\"a\"", 4, "enthält das unzulässige Zeichen '\"'"},
        {"web/a\\b", 5, "enthält das unzulässige Zeichen '\\'"},
        {"web/`id`", 4, "enthält das unzulässige Zeichen '`'"},
        {"web/a|b", 5, "enthält das unzulässige Zeichen '|'"},
        {"web/a<b", 5, "enthält das unzulässige Zeichen '<'"},
        {"web/%zz", 4, "hat nach '%' keine zwei Hexadezimalziffern"},
        {"web/%2", 4, "hat nach '%' keine zwei Hexadezimalziffern"},
        {"web/\xC3\xA4", 4, "enthält das Byte 0xC3 außerhalb von ASCII"},
        {"web:0", 4, "hat keinen gültigen Port (1 bis 65535)"},
        {"web:65536", 4, "hat keinen gültigen Port (1 bis 65535)"},
        {"web:", 4, "hat keinen gültigen Port (1 bis 65535)"},
        {"web:80x", 4, "hat keinen gültigen Port (1 bis 65535)"},
        {"ftp://web", 4, "hat keinen gültigen Port (1 bis 65535)"},
        {"http://", 7, "nennt keinen Host"},
        {"/status", 0, "nennt keinen Host"},
        {"::1/status", 0, "nennt eine IPv6-Adresse ohne eckige Klammern vor Port oder Pfad"},
        {"[::1", 0, "hat keine schließende Klammer ']'"},
        {"[::1]x", 5, "enthält das unzulässige Zeichen 'x'"},
        {"[web1]:80", 1, "enthält das unzulässige Zeichen 'w'"},
        {"user@web", 4, "enthält das unzulässige Zeichen '@'"},
        {"a..b/x", 2, "enthält einen leeren Namensteil ('..')"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.text);
        expect_refused(check_http_target, c);
    }
}

TEST(ProxyCheck, AcceptedForms) {
    const Accepted cases[] = {
        {"cache:3128", "cache:3128", HostForm::HOST_NAME},
        {"127.0.0.1:3128", "127.0.0.1:3128", HostForm::IPV4},
        {"[::1]:3128", "[::1]:3128", HostForm::IPV6},
        {"proxy.example.com:80 ", "proxy.example.com:80", HostForm::HOST_NAME},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(c.text);
        expect_accepted(check_proxy, c);
    }
}

TEST(ProxyCheck, RefusedWithReasons) {
    const Refused cases[] = {
        {"cache", 5, "hat keinen Port (Form Host:Port)"},
        {"-h x", 0, "beginnt mit '-', das ein Werkzeug als Option lesen würde"},
        {"cache:80 #x", 8, "enthält ein Leerzeichen"},
        {"cache:80/#x", 8, "enthält das unzulässige Zeichen '/'"},
        {"#", 0, "enthält das unzulässige Zeichen '#'"},
        {"~proxy:80", 0, "enthält das unzulässige Zeichen '~'"},
        {"http://cache:80", 4, "nennt ein Schema; ein Proxy ist nur Host:Port"},
        {"::1:3128", 0, "nennt eine IPv6-Adresse ohne eckige Klammern vor Port oder Pfad"},
        {"[::1]", 5, "hat keinen Port (Form Host:Port)"},
        {"cache:99999", 6, "hat keinen gültigen Port (1 bis 65535)"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.text);
        expect_refused(check_proxy, c);
    }
}

TEST(HostCheck, BytesAreNamedReadably) {
    EXPECT_EQ(describe_byte(';'), "';'");
    EXPECT_EQ(describe_byte('\x1B'), "0x1B");
    EXPECT_EQ(describe_byte('\x7F'), "0x7F");
    EXPECT_EQ(describe_byte('\0'), "0x00");
    EXPECT_EQ(describe_byte('\xC3'), "0xC3");
}

} // namespace
