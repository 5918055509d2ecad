// A new file appears whole or not at all: a second thread watches the place while the first writes.
#include "rt/new_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Every look at the path while the file is written sees nothing there or all of its bytes. Written straight
// into place, a file this large is seen half written by nearly every look.
TEST(NewFileThreads, AReaderSeesNoFileOrTheWholeOne) {
    std::string pattern = (fs::temp_directory_path() / "rt_new_files_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern, path = dir + "/velmora.cfg";
    const std::string bytes(32 << 20, 'x');
    std::atomic<bool> written = false;
    int error = -1;
    std::thread writer([&] {
        error = rt_write_new_file(path, bytes);
        written = true;
    });
    long looks = 0, partial = 0;
    off_t partial_size = 0;
    while (!written) {
        struct stat info {};
        ++looks;
        if (::stat(path.c_str(), &info) == 0 && info.st_size != static_cast<off_t>(bytes.size())) {
            ++partial;
            partial_size = info.st_size;
        }
    }
    writer.join();
    EXPECT_EQ(error, 0);
    EXPECT_EQ(partial, 0) << "of " << looks << " looks; one saw " << partial_size << " bytes";
    EXPECT_EQ(fs::file_size(path), bytes.size());
    fs::remove_all(dir);
}

} // namespace
