#include "app/files.hpp"

#include <dirent.h>
#include <errno.h>
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
const std::string current_prefix = current_folder + "/";
// The characters that make fnmatch compare a name otherwise than as it is.
const char* const fnmatch_specials = "*?[\\";

// An entry of a folder: its name and the type readdir gave (DT_UNKNOWN
// where the file system gives none).
struct folder_entry {
    std::string name;
    unsigned char type;
};

enum class listing { read, missing, unreadable };

// entries := those of the folder, "." and ".." left out, in listing order.
// The folder is closed again before this returns, so that a search holds
// no descriptor while it descends, however deep. missing: the folder does
// not exist or is no folder; unreadable: it could not be opened, or reading
// it failed (entries then holds those read before the failure).
listing read_folder(const std::string& path, std::vector<folder_entry>& entries) {
    entries.clear();
    DIR* dir = opendir(path.c_str());
    if (!dir) return errno == ENOENT || errno == ENOTDIR ? listing::missing : listing::unreadable;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) {
            error = errno;
            break;
        }
        const std::string name = e->d_name;
        if (name != current_folder && name != parent_folder) entries.push_back({name, e->d_type});
    }
    closedir(dir);
    return error == 0 ? listing::read : listing::unreadable;
}

bool matches(const std::string& pattern, const std::string& name) {
    return fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
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
// that stat cannot follow (a dangling link) counts as a file, unless its
// folder's listing named it a folder (type DT_DIR).
bool listed(const std::string& path, unsigned char type, bool regular_only) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return type != DT_DIR;
    if (S_ISDIR(st.st_mode)) return false;
    return !regular_only || S_ISREG(st.st_mode);
}

// One search of a tree: what it looks for, from which folder, and what it
// finds. path holds the folders on the way down to the one being searched.
struct tree_search {
    const name_filter& filter;
    const std::string& folder;
    std::vector<std::string>& list;
    std::vector<std::string>& unreadable;
    folder_path path;
};

// A search of one name in a folder that cannot be listed: the name is
// tested in the folder instead, and listed when it is there and the listing
// would have listed it. False when this cannot tell either (the folder
// cannot be entered).
bool test_name(tree_search& s, const std::string& prefix, bool regular_only) {
    const std::string path = s.folder + prefix + s.filter.text;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (listed(path, DT_UNKNOWN, regular_only)) s.list.push_back(prefix + s.filter.text);
    return true;
}

// The folder folder + prefix: appends prefix + name for every accepted entry
// that is listed, then with recursive searches each subfolder in listing
// order (pre-order), below which regular files only are listed. A folder
// that cannot be read is noted in unreadable as folder + prefix (those of a
// non-recursive search of one name only when the name cannot be tested
// instead); one that does not exist, or has vanished since its parent was
// read, lists nothing.
void search_folder(tree_search& s, const std::string& prefix, bool recursive, bool regular_only) {
    const std::string here = s.folder + prefix;
    std::vector<folder_entry> entries;
    const listing status = read_folder(here, entries);
    if (status == listing::missing) return;
    if (status == listing::unreadable) {
        if (!recursive && s.filter.one_name() && test_name(s, prefix, regular_only)) return;
        s.unreadable.push_back(here);
    }
    for (const folder_entry& e : entries) {
        if (s.filter.accepts(e.name) && listed(here + e.name, e.type, regular_only))
            s.list.push_back(prefix + e.name);
    }
    if (!recursive) return;
    for (const folder_entry& e : entries) {
        // A type that is neither a folder nor a link is no folder: no stat.
        if (e.type != DT_DIR && e.type != DT_LNK && e.type != DT_UNKNOWN) continue;
        // stat follows links: a link to a folder is a folder, a dangling one a file.
        const std::string sub = here + e.name;
        struct stat st;
        if (stat(sub.c_str(), &st) != 0) {
            // A folder that cannot even be looked at: its path is too long,
            // or its parent can be listed but not entered.
            if (e.type == DT_DIR && errno != ENOENT && errno != ENOTDIR)
                s.unreadable.push_back(sub + "/");
            continue;
        }
        if (!S_ISDIR(st.st_mode)) continue;
        const folder_path::value_type id = folder_id(st);
        if (on_path(id, s.path)) continue;  // a link back up: a cycle
        s.path.push_back(id);
        search_folder(s, prefix + e.name + "/", true, true);
        s.path.pop_back();
    }
}

// The search folder's own entries, then with recursive its subfolders'.
void search_tree(const name_filter& filter, const std::string& folder, std::vector<std::string>& list,
                 std::vector<std::string>& unreadable, bool recursive, bool regular_only) {
    tree_search s{filter, folder, list, unreadable, {}};
    struct stat st;
    if (recursive && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        s.path.push_back(folder_id(st));
    search_folder(s, "", recursive, regular_only);
}

}  // namespace

bool name_filter::accepts(const std::string& name) const {
    return literal ? name == text : matches(text, name);
}

bool name_filter::one_name() const {
    return literal || text.find_first_of(fnmatch_specials) == std::string::npos;
}

// A name taken literally is listed as one given without wildcards: never a
// folder, any other entry in the search folder, regular files only below.
void expand_file_pattern(const std::string& pattern, std::string& folder,
                         std::vector<std::string>& list, bool recursive,
                         std::vector<std::string>& unreadable) {
    std::string name;
    if (!split_path(pattern, folder, name)) return;
    const bool wildcards = has_wildcard(name);
    const size_t found_before = list.size();
    const name_filter filter{name, false};
    search_tree(filter, folder, list, unreadable, recursive, wildcards);
    // As a shell passes on a pattern that matches nothing: the name itself
    // (also one whose backslash made fnmatch look for another name). Without
    // such characters fnmatch compared names as they are: nothing to redo.
    // The second walk meets the folders that the first could not read again:
    // they are noted once.
    if (list.size() == found_before && !filter.one_name()) {
        std::vector<std::string> noted_already;
        search_tree({name, true}, folder, list, noted_already, recursive, false);
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

// A folder that another run made in the meantime serves as well.
bool make_dir(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && is_directory(path));
}

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
