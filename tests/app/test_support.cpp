#include "tests/app/test_support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <png.h>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/command_lines.h"

namespace fs = std::filesystem;

CommandLog::CommandLog() {
    set_command_watcher(
        [this](const std::vector<std::string>& arguments) { commands_.push_back(arguments); });
}

CommandLog::~CommandLog() {
    set_command_watcher(nullptr);
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "velmora-app-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    if (made == nullptr) std::abort();
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::write(std::string_view name, std::string_view bytes) const {
    const std::string file = path_ + "/" + std::string(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

ScopedCwd::ScopedCwd(const std::string& dir) {
    std::error_code ec;
    saved_ = fs::current_path(ec).string();
    if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot change into " << dir;
}

ScopedCwd::~ScopedCwd() {
    if (chdir(saved_.c_str()) != 0) ADD_FAILURE() << "cannot change back into " << saved_;
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    if (value) {
        setenv(name_.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (saved_) {
        setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

namespace {

std::string fake_script() {
    return std::string(VELMORA_APP_TEST_DIR) + "/fake_tools/fake_tool.sh";
}

std::string env_name(std::string_view tool) {
    std::string name = "VELMORA_FAKE_";
    for (char c : tool) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

} // namespace

FakeTools::FakeTools(std::initializer_list<std::string_view> tools)
    : log_(dir_.path() + "/calls.log"), path_("PATH", dir_.path() + "/bin"),
      log_env_("VELMORA_FAKE_LOG", log_), dir_env_("VELMORA_FAKE_DIR", dir_.path() + "/hosts"),
      nslookup_("VELMORA_FAKE_NSLOOKUP", std::nullopt), nmap_("VELMORA_FAKE_NMAP", std::nullopt),
      ping_("VELMORA_FAKE_PING", std::nullopt), httping_("VELMORA_FAKE_HTTPING", std::nullopt) {
    std::error_code ec;
    fs::create_directory(dir_.path() + "/bin", ec);
    fs::create_directory(dir_.path() + "/hosts", ec);
    for (std::string_view tool : tools) {
        fs::create_symlink(fake_script(), dir_.path() + "/bin/" + std::string(tool), ec);
        if (ec) ADD_FAILURE() << "cannot link fake " << tool << ": " << ec.message();
    }
}

void FakeTools::replay(std::string_view tool, const std::string& file) {
    setenv(env_name(tool).c_str(), file.c_str(), 1);
}

void FakeTools::replay_bytes(std::string_view tool, std::string_view bytes) {
    replay(tool, dir_.write(std::string(tool) + ".out", bytes));
}

void FakeTools::replay_for_host(std::string_view tool, std::string_view host, const std::string& file) {
    std::error_code ec;
    fs::copy_file(file, dir_.path() + "/hosts/" + std::string(tool) + "." + std::string(host),
                  fs::copy_options::overwrite_existing, ec);
    if (ec) ADD_FAILURE() << "cannot copy " << file << ": " << ec.message();
}

void FakeTools::hold(std::string_view tool) const {
    dir_.write("hosts/hold." + std::string(tool), "");
}

void FakeTools::release(std::string_view tool) const {
    std::error_code ec;
    fs::remove(dir_.path() + "/hosts/hold." + std::string(tool), ec);
}

void FakeTools::hold_for_host(std::string_view tool, std::string_view host) const {
    hold(std::string(tool) + "." + std::string(host));
}

void FakeTools::release_for_host(std::string_view tool, std::string_view host) const {
    release(std::string(tool) + "." + std::string(host));
}

std::vector<std::string> FakeTools::calls() const {
    std::vector<std::string> lines;
    std::ifstream in(log_, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<pid_t> FakeTools::running() const {
    std::vector<pid_t> pids;
    std::ifstream in(dir_.path() + "/hosts/pids");
    for (pid_t pid; in >> pid;)
        if (process_running(pid)) pids.push_back(pid);
    return pids;
}

bool process_running(pid_t pid) {
    // The state follows the command name in parentheses, which may itself hold spaces and parentheses.
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    const char state = stat[close + 2];
    return state != 'Z' && state != 'X';
}

std::vector<std::string> calls_for_host(const std::vector<std::string>& calls, std::string_view host) {
    const std::string argument = " [" + std::string(host) + "]";
    std::vector<std::string> mine;
    for (const std::string& call : calls) {
        const std::size_t first = call.find(" [");
        if (first != std::string::npos && call.compare(first, std::string::npos, argument) == 0)
            mine.push_back(call);
    }
    return mine;
}

std::string fixture(std::string_view name) {
    return std::string(VELMORA_APP_TEST_DIR) + "/fixtures/" + std::string(name);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> find_program(std::string_view name, std::string_view search_path) {
    std::size_t start = 0;
    while (start <= search_path.size()) {
        std::size_t end = search_path.find(':', start);
        if (end == std::string_view::npos) end = search_path.size();
        const std::string dir(search_path.substr(start, end - start));
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + std::string(name);
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

uint32_t DecodedPng::at(uint32_t x, uint32_t y) const {
    const uint8_t* p = rgb.data() + 3 * (static_cast<std::size_t>(y) * width + x);
    return 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

std::optional<DecodedPng> decode_png(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    DecodedPng d{image.width, image.height, std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr)) return std::nullopt;
    return d;
}
