// Folders and new files: the program writes only what the user asked for and never replaces a file.
#pragma once

#include <string_view>

// Creates the folder and every missing folder above it, each readable by its owner alone (0700 before
// the umask). Returns 0, or the errno of the step that failed; a non-folder in the way is ENOTDIR.
[[nodiscard]] int rt_make_folders(std::string_view path);

// Creates the file with these bytes (0644 before the umask), only when nothing is at the path: a file, a
// folder or a link already there is left alone and gives EEXIST. Returns 0 or an errno; a file that was
// created but could not be written completely is removed again.
[[nodiscard]] int rt_write_new_file(std::string_view path, std::string_view bytes);
