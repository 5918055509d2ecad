// Folders made on demand and files written only where nothing is.
#include "rt/new_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class NewFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "rt_new_files_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string dir;
};

TEST_F(NewFiles, FoldersAreMadeAsDeepAsNeeded) {
    EXPECT_EQ(rt_make_folders(dir + "/a/b//c/"), 0);
    struct stat info {};
    ASSERT_EQ(stat((dir + "/a/b/c").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    ASSERT_EQ(stat((dir + "/a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);           // the owner's alone, whatever the umask allows
    EXPECT_EQ(rt_make_folders(dir + "/a/b"), 0); // already there
    EXPECT_EQ(rt_make_folders("/"), 0);
    std::ofstream(dir + "/plain") << "x";
    EXPECT_EQ(rt_make_folders(dir + "/plain"), ENOTDIR);
    EXPECT_EQ(rt_make_folders(dir + "/plain/below"), ENOTDIR);
    EXPECT_EQ(rt_make_folders(""), ENOENT);
    EXPECT_EQ(contents(dir + "/plain"), "x");
}

TEST_F(NewFiles, ANewFileIsWrittenOnlyWhereNothingIs) {
    const std::string file = dir + "/new.cfg";
    EXPECT_EQ(rt_write_new_file(file, "one\ntwo\n"), 0);
    EXPECT_EQ(contents(file), "one\ntwo\n");
    // Whatever is there stays as it is: a file, a folder, a link to nowhere, a link to a file.
    EXPECT_EQ(rt_write_new_file(file, "other"), EEXIST);
    EXPECT_EQ(contents(file), "one\ntwo\n");
    fs::create_directory(dir + "/folder");
    EXPECT_EQ(rt_write_new_file(dir + "/folder", "x"), EEXIST);
    fs::create_symlink(dir + "/nowhere", dir + "/dangling");
    EXPECT_EQ(rt_write_new_file(dir + "/dangling", "x"), EEXIST);
    EXPECT_FALSE(fs::exists(dir + "/nowhere"));
    fs::create_symlink(file, dir + "/link");
    EXPECT_EQ(rt_write_new_file(dir + "/link", "x"), EEXIST);
    EXPECT_EQ(contents(file), "one\ntwo\n");
    EXPECT_EQ(rt_write_new_file(dir + "/missing/new.cfg", "x"), ENOENT);
    EXPECT_EQ(rt_write_new_file(dir + "/new.cfg/below", "x"), ENOTDIR);
}

// A file that cannot be written whole is not left behind half written; a file size limit stands in for a
// full disk.
TEST_F(NewFiles, AShortWriteLeavesNoFile) {
    const std::string file = dir + "/big.cfg";
    EXPECT_EXIT(
        {
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = 16;
            std::signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
            const int error = rt_write_new_file(file, std::string(64, 'x'));
            std::_Exit(error == EFBIG && access(file.c_str(), F_OK) != 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
