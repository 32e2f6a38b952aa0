// File search and path utilities: the input pattern becomes a file list,
// output folders are created with their parents, intermediate files removed
// and external commands run through the shell. Paths use '/' only; a folder
// used as a prefix ends in '/'. Failures are reported by the results only.
#ifndef ZARN_APP_FILES_HPP
#define ZARN_APP_FILES_HPP

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumo::zarn {

// (device, inode) of the folders on the way down from the search folder to
// the folder being searched, the search folder first. A subfolder found
// among them is a link to one of them (or to itself) and is skipped: this
// ends every cycle, while any other folder, reached through a link or not,
// is searched under each of its paths.
using folder_path = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// The names a search lists: those that the pattern matches, or only the
// name itself when it is taken literally.
struct name_filter {
    std::string text;
    bool literal = false;
    bool accepts(const std::string& name) const;
};

// folder := the pattern's folder part; appends the matching non-folder
// entries, and with recursive those of every subfolder (pre-order), links
// to folders followed. A pattern that matches nothing is taken literally,
// as a shell passes it on.
void expand_file_pattern(const std::string& pattern, std::string& folder,
                         std::vector<std::string>& list, bool recursive);
void list_matching_files(const name_filter& filter, const std::string& folder,
                         const std::string& prefix, std::vector<std::string>& list,
                         folder_path& path);
void search_subfolders(const name_filter& filter, const std::string& folder,
                       const std::string& prefix, std::vector<std::string>& list,
                       folder_path& path);

// folder := up to and including the last '/', or "./"; name := the rest.
bool split_path(const std::string& path, std::string& folder, std::string& name);
bool directory_of(const std::string& path, std::string& folder);
bool strip_trailing_slashes(std::string& path);
bool ensure_trailing_slash(std::string& folder);

// The name part of a path (after its last '/') and the position of the '.'
// that starts its extension, searched in that last component only.
std::string::size_type extension_position(const std::string& path);

bool path_exists(const std::string& path, bool folder);
bool is_directory(const std::string& path);
bool make_dir(const std::string& path);
// Creates the folder part of path and its missing parents; on failure
// folder holds the folder that could not be made, without its '/'.
bool make_dir_recursive(const std::string& path, std::string& folder);
bool make_parent_dir(const std::string& folder);
bool remove_file(const std::string& path);
bool has_wildcard(const std::string& s);
// Through the shell; a program that the shell does not find (status 127)
// is looked for once more with "./" in front.
bool run_command(const std::string& command);

}  // namespace lumo::zarn

#endif
