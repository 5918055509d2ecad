// Folders made on demand and files written only where nothing is.
#include "rt/new_files.h"

#include <gtest/gtest.h>

#include <algorithm>
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
#include <vector>

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
    // The names in the folder, sorted.
    std::vector<std::string> names(const std::string& folder) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        return found;
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
    // Nor is the temporary file the bytes went to first.
    EXPECT_EQ(names(dir), std::vector<std::string>{});
}

// The file is written under another name and linked into place: nothing else is left in the folder, and what
// is refused leaves no trace either.
TEST_F(NewFiles, OnlyTheFileIsLeft) {
    EXPECT_EQ(rt_write_new_file(dir + "/new.cfg", "one\n"), 0);
    EXPECT_EQ(rt_write_new_file(dir + "/new.cfg", "two\n"), EEXIST);
    fs::create_symlink(dir + "/nowhere", dir + "/dangling");
    EXPECT_EQ(rt_write_new_file(dir + "/dangling", "x"), EEXIST);
    EXPECT_EQ(names(dir), (std::vector<std::string>{"dangling", "new.cfg"}));
    EXPECT_EQ(contents(dir + "/new.cfg"), "one\n");
}

// A chain that fails part of the way takes back the folders it made; folders that were there stay.
TEST_F(NewFiles, AChainThatCannotBeMadeLeavesNothing) {
    fs::create_directory(dir + "/there");
    const std::string long_name(300, 'n');
    std::string too_deep = dir + "/there/deep";
    while (too_deep.size() < 5000) too_deep += "/" + std::string(200, 'd');
    struct Case {
        std::string path;
        int error;
    } const cases[] = {
        {dir + "/there/a/b/" + long_name + "/c", ENAMETOOLONG},
        {too_deep, ENAMETOOLONG},
        {dir + "/there/x/" + long_name, ENAMETOOLONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 80));
        std::vector<std::string> made;
        EXPECT_EQ(rt_make_folders(c.path, &made), c.error);
        EXPECT_TRUE(made.empty());
        EXPECT_EQ(names(dir), std::vector<std::string>{"there"});
        EXPECT_EQ(names(dir + "/there"), std::vector<std::string>{});
    }
}

// The folders made are told outermost first and taken back innermost first, as long as they are empty.
TEST_F(NewFiles, MadeFoldersCanBeTakenBack) {
    fs::create_directory(dir + "/there");
    std::vector<std::string> made;
    ASSERT_EQ(rt_make_folders(dir + "/there/a/b", &made), 0);
    EXPECT_EQ(made, (std::vector<std::string>{dir + "/there/a", dir + "/there/a/b"}));
    rt_remove_folders(made);
    EXPECT_EQ(names(dir + "/there"), std::vector<std::string>{});
    made.clear();
    ASSERT_EQ(rt_make_folders(dir + "/there/a/b", &made), 0);
    std::ofstream(dir + "/there/a/keep") << "x";
    rt_remove_folders(made);
    EXPECT_EQ(names(dir + "/there/a"), std::vector<std::string>{"keep"});
}

TEST_F(NewFiles, DanglingLinksOnTheWay) {
    fs::create_directory(dir + "/real");
    std::ofstream(dir + "/real/file") << "x";
    fs::create_symlink(dir + "/gone", dir + "/to-nothing");
    fs::create_symlink(dir + "/real", dir + "/to-real");
    fs::create_symlink("loop", dir + "/loop");
    struct Case {
        std::string path;
        std::string link, target; // empty: none found
    } const cases[] = {
        {dir + "/to-nothing/file", dir + "/to-nothing", dir + "/gone"},
        {dir + "/to-nothing", dir + "/to-nothing", dir + "/gone"},
        {dir + "/to-real/file", "", ""},
        {dir + "/to-real/missing", "", ""},
        {dir + "/missing/to-nothing", "", ""},
        {dir + "/loop/file", dir + "/loop", "loop"},
        {dir + "/real/file", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const DanglingLink found = rt_dangling_link(c.path);
        EXPECT_EQ(found.link, c.link);
        EXPECT_EQ(found.target, c.target);
    }
}

} // namespace
