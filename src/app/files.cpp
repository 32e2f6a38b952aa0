#include "app/files.hpp"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace lumo::zarn {

namespace {

const std::string current_folder = ".";
const std::string parent_folder = "..";
const std::string match_all = "*";
const std::string current_prefix = current_folder + "/";

// Folders that cannot be opened list nothing.
class folder_listing {
public:
    explicit folder_listing(const std::string& path) : dir_(opendir(path.c_str())) {}
    ~folder_listing() {
        if (dir_) closedir(dir_);
    }
    folder_listing(const folder_listing&) = delete;
    folder_listing& operator=(const folder_listing&) = delete;

    bool open() const { return dir_ != nullptr; }
    // Next entry name; false at the end.
    bool next(std::string& name) {
        if (!dir_) return false;
        const dirent* e = readdir(dir_);
        if (!e) return false;
        name = e->d_name;
        return true;
    }

private:
    DIR* dir_;
};

bool matches(const std::string& pattern, const std::string& name) {
    return fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

// stat follows links: a link to a folder is a folder, a dangling one a file.
bool stat_folder(const std::string& path, struct stat& st) {
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

folder_path::value_type folder_id(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool on_path(const folder_path::value_type& id, const folder_path& path) {
    return std::find(path.begin(), path.end(), id) != path.end();
}

// Whether a search lists the entry: never a folder. A name given without
// wildcards is listed whatever it is (loading then refuses what is not a
// regular file); a wildcard or recursive search lists regular files only,
// so that a named pipe, a device or a socket never enters a batch. An entry
// that stat cannot follow (a dangling link) counts as a file.
bool listed(const std::string& path, bool regular_only) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) return false;
    return !regular_only || S_ISREG(st.st_mode);
}

// Appends prefix + name for every accepted entry of folder + prefix that
// is listed.
void append_matches(const name_filter& filter, const std::string& folder,
                    const std::string& prefix, std::vector<std::string>& list, bool regular_only) {
    folder_listing listing(folder + prefix);
    std::string name;
    while (listing.next(name)) {
        if (filter.accepts(name) && listed(folder + prefix + name, regular_only))
            list.push_back(prefix + name);
    }
}

// The search folder's own entries, then with recursive its subfolders'.
void search_tree(const name_filter& filter, const std::string& folder, std::vector<std::string>& list,
                 bool recursive, bool regular_only) {
    append_matches(filter, folder, "", list, regular_only);
    if (!recursive) return;
    folder_path path;
    struct stat st;
    if (stat_folder(folder, st)) path.push_back(folder_id(st));
    search_subfolders(filter, folder, "", list, path);
}

}  // namespace

bool name_filter::accepts(const std::string& name) const {
    return literal ? name == text : matches(text, name);
}

// A name taken literally is listed as one given without wildcards: never a
// folder, any other entry in the search folder, regular files only below.
void expand_file_pattern(const std::string& pattern, std::string& folder,
                         std::vector<std::string>& list, bool recursive) {
    std::string name;
    if (!split_path(pattern, folder, name)) return;
    const bool wildcards = has_wildcard(name);
    const size_t found_before = list.size();
    search_tree({name, false}, folder, list, recursive, wildcards);
    // As a shell passes on a pattern that matches nothing: the name itself
    // (also one whose backslash made fnmatch look for another name). Without
    // such characters fnmatch compared names as they are: nothing to redo.
    if (list.size() == found_before && name.find_first_of("*?[\\") != std::string::npos)
        search_tree({name, true}, folder, list, recursive, false);
}

void list_matching_files(const name_filter& filter, const std::string& folder,
                         const std::string& prefix, std::vector<std::string>& list,
                         folder_path& path) {
    append_matches(filter, folder, prefix, list, true);
    search_subfolders(filter, folder, prefix, list, path);
}

void search_subfolders(const name_filter& filter, const std::string& folder,
                       const std::string& prefix, std::vector<std::string>& list,
                       folder_path& path) {
    folder_listing listing(folder + prefix);
    std::string name;
    struct stat st;
    while (listing.next(name)) {
        if (name == current_folder || name == parent_folder || !matches(match_all, name)) continue;
        if (!stat_folder(folder + prefix + name, st)) continue;
        const folder_path::value_type id = folder_id(st);
        if (on_path(id, path)) continue;  // a link back up: a cycle
        path.push_back(id);
        list_matching_files(filter, folder, prefix + name + "/", list, path);
        path.pop_back();
    }
}

bool split_path(const std::string& path, std::string& folder, std::string& name) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = current_prefix;
        name = path;
    } else {
        folder = path.substr(0, slash + 1);
        name = path.substr(slash + 1);
    }
    return !name.empty();
}

bool directory_of(const std::string& path, std::string& folder) {
    std::string name;
    return split_path(path, folder, name);
}

bool strip_trailing_slashes(std::string& path) {
    const std::string::size_type keep = path.find_last_not_of('/');
    const std::string::size_type length = keep == std::string::npos ? 0 : keep + 1;
    if (length == path.size()) return false;
    path.resize(length);
    return true;
}

bool ensure_trailing_slash(std::string& folder) {
    if (folder.empty() || folder.back() == '/') return false;
    folder += '/';
    return true;
}

std::string::size_type extension_position(const std::string& path) {
    const std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos) return dot;
    const std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos && slash > dot) return std::string::npos;
    return dot;
}

// The path itself is tested, never used as a pattern: "out[1]" exists only
// when a file of that very name does.
bool path_exists(const std::string& path, bool folder) {
    if (path.empty()) return false;
    std::string p = path;
    strip_trailing_slashes(p);
    if (p.empty()) p.assign(1, '/');  // made only of '/': the root
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
        // A dangling link is an existing entry, never a folder.
        return !folder && lstat(p.c_str(), &st) == 0;
    }
    return !folder || S_ISDIR(st.st_mode);
}

bool is_directory(const std::string& path) { return path_exists(path, true); }

bool make_dir(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

bool make_dir_recursive(const std::string& path, std::string& folder) {
    directory_of(path, folder);
    if (is_directory(folder) || make_dir(folder)) return true;
    if (!strip_trailing_slashes(folder)) return false;
    if (folder.empty() || !make_parent_dir(folder)) return false;
    return make_dir(folder);
}

bool make_parent_dir(const std::string& folder) {
    std::string f = folder;
    strip_trailing_slashes(f);
    std::string parent;
    return make_dir_recursive(f, parent);
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool has_wildcard(const std::string& s) { return s.find_first_of("*?[{") != std::string::npos; }

namespace {

// The shell's status for a command it cannot find.
constexpr int status_not_found = 127;

bool not_found(int wait_status) {
    return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == status_not_found;
}

}  // namespace

// Only a program that the shell did not find is looked for in the current
// folder: a program that ran and failed must not make another one run.
bool run_command(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == 0) return true;
    if (!not_found(status)) return false;
    return std::system((current_prefix + command).c_str()) == 0;
}

}  // namespace lumo::zarn
