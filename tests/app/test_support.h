// Scratch directories, saved working directory and environment, and the fake network tools.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::string& path() const { return path_; }
    // Writes the bytes to a file in the directory and returns its path.
    std::string write(std::string_view name, std::string_view bytes) const;

  private:
    std::string path_;
};

// Changes into a directory and back on destruction.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

  private:
    std::string saved_;
};

// Sets or unsets one environment variable and restores its old value on destruction.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> saved_;
};

// The fake tools alone on PATH, with their call log. Every variable they read is reset for the
// lifetime of the object and restored afterwards.
class FakeTools {
  public:
    explicit FakeTools(std::initializer_list<std::string_view> tools = {"nslookup", "nmap", "ping",
                                                                        "httping"});
    // The tool prints this file on every run (tool is "nslookup", "nmap", "ping" or "httping").
    void replay(std::string_view tool, const std::string& file);
    // The tool prints these bytes on every run.
    void replay_bytes(std::string_view tool, std::string_view bytes);
    // The tool prints this file when its first argument is the host.
    void replay_for_host(std::string_view tool, std::string_view host, const std::string& file);
    // Runs of the tool from now on wait before they answer, until release (or 20 s); the call is logged
    // at once, so a test sees when a run has started to stall.
    void hold(std::string_view tool) const;
    void release(std::string_view tool) const;
    // The same for the runs whose first argument is the host.
    void hold_for_host(std::string_view tool, std::string_view host) const;
    void release_for_host(std::string_view tool, std::string_view host) const;
    // One entry per run: the tool's name, then each argument as " [arg]".
    [[nodiscard]] std::vector<std::string> calls() const;
    // Runs that have not ended yet (a zombie has ended), whoever started them.
    [[nodiscard]] std::vector<pid_t> running() const;
    [[nodiscard]] const TempDir& dir() const { return dir_; }

  private:
    TempDir dir_;
    std::string log_;
    ScopedEnv path_;
    ScopedEnv log_env_;
    ScopedEnv dir_env_;
    ScopedEnv nslookup_;
    ScopedEnv nmap_;
    ScopedEnv ping_;
    ScopedEnv httping_;
};

// The calls whose only argument is host, in the order they ran: the start-up probes of different servers run
// at once, so only each server's own calls keep an order.
[[nodiscard]] std::vector<std::string> calls_for_host(const std::vector<std::string>& calls,
                                                      std::string_view host);

// Every argument vector a tool is started with while the object lives, exactly as built.
class CommandLog {
  public:
    CommandLog();
    ~CommandLog();
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;
    [[nodiscard]] const std::vector<std::vector<std::string>>& commands() const { return commands_; }

  private:
    std::vector<std::vector<std::string>> commands_;
};

// Path of a recorded tool output in tests/app/fixtures.
[[nodiscard]] std::string fixture(std::string_view name);
[[nodiscard]] std::string read_file(const std::string& path);
// Polls until the condition holds or the limit passes; true when it held.
template <typename Condition> bool within(std::chrono::milliseconds limit, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// True while the process exists and has not ended (a zombie has).
[[nodiscard]] bool process_running(pid_t pid);
// Full path of a program on the given search path, or nothing.
[[nodiscard]] std::optional<std::string> find_program(std::string_view name, std::string_view search_path);

// A PNG file decoded to 8-bit RGB; colour at (x, y) as opaque 0xFFRRGGBB.
struct DecodedPng {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    [[nodiscard]] uint32_t at(uint32_t x, uint32_t y) const;
};
[[nodiscard]] std::optional<DecodedPng> decode_png(const std::string& path);
