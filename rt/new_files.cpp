#include "rt/new_files.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int rt_make_folders(std::string_view path) {
    if (path.empty()) return ENOENT;
    const std::string whole(path);
    // Each prefix that ends before a '/', then the whole path; "//" and a trailing '/' add nothing.
    for (std::size_t end = 1; end <= whole.size(); ++end) {
        if (end < whole.size() && whole[end] != '/') continue;
        if (whole[end - 1] == '/') continue;
        const std::string folder = whole.substr(0, end);
        if (::mkdir(folder.c_str(), 0700) == 0) continue;
        const int error = errno;
        struct stat info {};
        // EEXIST for a folder is fine; so is EACCES on one that exists (a folder above we may not write).
        if (::stat(folder.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) return ENOTDIR;
            continue;
        }
        return error;
    }
    return 0;
}

int rt_write_new_file(std::string_view path, std::string_view bytes) {
    const std::string name(path);
    // O_EXCL also refuses a dangling link instead of creating its target.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return errno;
    int error = 0;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) ::unlink(name.c_str());
    return error;
}
