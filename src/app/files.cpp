#include "app/files.hpp"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

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

bool mark_visited(const struct stat& st, visited_folders& visited) {
    return visited.insert({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)})
        .second;
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

// Appends prefix + name for every matching entry of folder + prefix that
// is listed.
void append_matches(const std::string& pattern, const std::string& folder,
                    const std::string& prefix, std::vector<std::string>& list, bool regular_only) {
    folder_listing listing(folder + prefix);
    std::string name;
    while (listing.next(name)) {
        if (matches(pattern, name) && listed(folder + prefix + name, regular_only))
            list.push_back(prefix + name);
    }
}

}  // namespace

void expand_file_pattern(const std::string& pattern, std::string& folder,
                         std::vector<std::string>& list, bool recursive) {
    std::string name;
    if (!split_path(pattern, folder, name)) return;
    append_matches(name, folder, "", list, has_wildcard(name));
    if (!recursive) return;
    visited_folders visited;
    struct stat st;
    if (stat_folder(folder, st)) mark_visited(st, visited);
    search_subfolders(name, folder, "", list, visited);
}

void list_matching_files(const std::string& pattern, const std::string& folder,
                         const std::string& prefix, std::vector<std::string>& list,
                         visited_folders& visited) {
    append_matches(pattern, folder, prefix, list, true);
    search_subfolders(pattern, folder, prefix, list, visited);
}

void search_subfolders(const std::string& pattern, const std::string& folder,
                       const std::string& prefix, std::vector<std::string>& list,
                       visited_folders& visited) {
    folder_listing listing(folder + prefix);
    std::string name;
    struct stat st;
    while (listing.next(name)) {
        if (name == current_folder || name == parent_folder || !matches(match_all, name)) continue;
        if (!stat_folder(folder + prefix + name, st)) continue;
        if (!mark_visited(st, visited)) continue;  // reached before, e.g. via a link
        list_matching_files(pattern, folder, prefix + name + "/", list, visited);
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
