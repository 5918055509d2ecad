// The line reader over a file: every line comes back exactly as split_lines cuts it, however the
// terminators fall on the reader's chunk boundaries, and the number is free again afterwards.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "fuzz/fuzz_support.h"
#include "rt/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int fd = memory_file(bytes);
    if (fd < 0) return 0;
    // The path goes through rt_open_file's own open, size and reopen steps.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int n = rt_free_file();
    fuzz_check(n == 1, "a file number stayed open");
    fuzz_check(rt_open_file(path, n) == RT_OK, "a readable file did not open");

    const std::vector<std::string> expected = split_lines(bytes);
    std::size_t count = 0;
    std::string line = "before";
    while (!rt_eof(n)) {
        rt_line_input(n, line);
        fuzz_check(count < expected.size(), "more lines than the input holds");
        fuzz_check(line == expected[count], "a line differs from the input");
        ++count;
    }
    fuzz_check(count == expected.size(), "fewer lines than the input holds");
    // Past the end a read yields the empty text, and the end stays the end.
    rt_line_input(n, line);
    fuzz_check(line.empty() && rt_eof(n), "a read past the end found something");
    fuzz_check(rt_close(n) == RT_OK && rt_free_file() == 1, "the number was not freed");
    ::close(fd);
    return 0;
}
