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
    // Whether it accepts one name only, text itself: taken literally, or
    // without a character that fnmatch reads otherwise (* ? [ \).
    bool one_name() const;
};

// folder := the pattern's folder part; appends to list the matching
// non-folder entries, and with recursive those of every subfolder
// (pre-order: a folder's matches in listing order, then its subfolders in
// listing order), links to folders followed. A pattern that matches nothing
// is taken literally, as a shell passes it on. No folder is kept open while
// the search descends: depth costs no descriptor.
// Appends to unreadable, in the order the search meets them, the folders it
// could not open or read (no descriptor left, no permission, a path longer
// than the system takes, a failed read), named as the search opens them:
// the pattern's folder part plus the subfolder prefix ("./locked/",
// "photos/a/locked/"). The entries read before a failed read are searched
// all the same. A search folder that does not exist and a subfolder that
// vanished during the search are not noted: they list nothing. Nor is a
// search folder that cannot be listed when the search is not recursive and
// looks for one name (name_filter::one_name): the name is then tested in the
// folder (one that can be entered but not listed, mode 0111) and listed as
// the listing would list it; the folder is noted only when the name cannot
// be tested either.
// Nothing is printed.
void expand_file_pattern(const std::string& pattern, std::string& folder,
                         std::vector<std::string>& list, bool recursive,
                         std::vector<std::string>& unreadable);

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
// Makes the folder; true when it exists, made by this call or another.
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
