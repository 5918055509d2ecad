// Folders and new files: the program writes only what the user asked for and never replaces a file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Creates the folder and every missing folder above it, each readable by its owner alone (0700 before
// the umask). Returns 0, or the errno of the step that failed; a non-folder in the way is ENOTDIR. A chain
// that cannot be made whole leaves none of the folders it made behind; made, if given, is told the folders
// it made, outermost first, so that the caller can take them back (rt_remove_folders).
[[nodiscard]] int rt_make_folders(std::string_view path, std::vector<std::string>* made = nullptr);
// Removes the folders, innermost first, as long as they are empty.
void rt_remove_folders(const std::vector<std::string>& made);

// Creates the file with these bytes (0644 before the umask), only when nothing is at the path: a file, a
// folder or a link already there is left alone and gives EEXIST. The bytes go to a temporary file in the same
// folder first, which is then linked into place, so that a reader sees either no file or the whole one.
// Returns 0 or an errno; nothing is left behind when it fails.
[[nodiscard]] int rt_write_new_file(std::string_view path, std::string_view bytes);

// A symbolic link on the way to a path (the path itself or a folder above it) whose target cannot be reached.
struct DanglingLink {
    std::string link;   // the path up to and including the link
    std::string target; // what the link names
};
// The first such link, or an empty link when every link on the way leads somewhere.
[[nodiscard]] DanglingLink rt_dangling_link(std::string_view path);
