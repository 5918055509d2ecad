#include "rt/new_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The prefixes of path that name a folder on its way, in order, then the whole path; "//" and a trailing '/'
// add nothing.
template <typename Step> int for_each_prefix(const std::string& whole, Step step) {
    for (std::size_t end = 1; end <= whole.size(); ++end) {
        if (end < whole.size() && whole[end] != '/') continue;
        if (whole[end - 1] == '/') continue;
        if (const int stop = step(whole.substr(0, end))) return stop;
    }
    return 0;
}

// Writes all bytes; 0 or an errno.
int write_all(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// A file of our own next to path, hidden and unique to this process; its descriptor, or -1 with errno set.
int open_temporary(const std::string& path, std::string& name) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1; // errno is EEXIST
}

// Gives the finished file its name unless something already has it.
int put_in_place(const std::string& temporary, const std::string& path) {
    if (::link(temporary.c_str(), path.c_str()) == 0) return 0;
    const int error = errno;
    // A file system without hard links can still rename without replacing.
    if (error != EPERM && error != ENOTSUP && error != ENOSYS) return error;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
    return errno == EINVAL ? error : errno;
}

} // namespace

int rt_make_folders(std::string_view path, std::vector<std::string>* made) {
    if (path.empty()) return ENOENT;
    std::vector<std::string> mine;
    const int error = for_each_prefix(std::string(path), [&](const std::string& folder) {
        if (::mkdir(folder.c_str(), 0700) == 0) {
            mine.push_back(folder);
            return 0;
        }
        const int failed = errno;
        struct stat info {};
        // EEXIST for a folder is fine; so is EACCES on one that exists (a folder above we may not write).
        if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
        return failed;
    });
    if (error != 0) {
        rt_remove_folders(mine);
        return error;
    }
    if (made) made->insert(made->end(), mine.begin(), mine.end());
    return 0;
}

void rt_remove_folders(const std::vector<std::string>& made) {
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) ::rmdir(folder->c_str());
}

int rt_write_new_file(std::string_view path, std::string_view bytes) {
    const std::string name(path);
    // A quick answer when something is there already; the link below decides in the end.
    struct stat info {};
    if (::lstat(name.c_str(), &info) == 0) return EEXIST;
    std::string temporary;
    const int fd = open_temporary(name, temporary);
    if (fd < 0) return errno;
    int error = write_all(fd, bytes);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0) error = put_in_place(temporary, name);
    ::unlink(temporary.c_str());
    return error;
}

DanglingLink rt_dangling_link(std::string_view path) {
    DanglingLink found;
    for_each_prefix(std::string(path), [&](const std::string& prefix) {
        struct stat info {};
        if (::lstat(prefix.c_str(), &info) != 0) return 1; // missing: nothing further to find
        if (!S_ISLNK(info.st_mode) || ::stat(prefix.c_str(), &info) == 0) return 0;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(prefix.c_str(), target.data(), target.size());
        target.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        found = {prefix, target};
        return 1;
    });
    return found;
}
