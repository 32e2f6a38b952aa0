// Writing a file so that it is either complete or not there at all, without
// ever opening a name that another user could plant: the writer fills a file
// inside a private folder (mode 0700, a short random name) that the process
// makes in the folder of the final file, and only a successful write is
// renamed out of it over the final name. Until then an old file of that name
// stays as it was. The private folder goes with the staged file, with
// whatever a writer left in it (files, links, folder trees of any depth): on
// commit, on discard, when the process exits, and, through
// remove_private_folders, when a signal ends it.
//
// out/a_dist.png is staged as out/.zarn-Xy12Ab/staged.png: the extension is
// kept, so that writers choosing the format by it see the same one, and the
// name stays short whatever the length of the final one.
#ifndef LUMO_DETAILS_FILE_STAGED_FILE_HPP
#define LUMO_DETAILS_FILE_STAGED_FILE_HPP

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>  // renameat2, RENAME_NOREPLACE
#include <cstdlib>
#include <cstring>
#include <string>

namespace lumo {

namespace staging {

// Private folders alive at once: one per staged file, a handful at most.
constexpr int folder_slots = 16;

// A slot's state: free, busy (its folder being made or removed), or held
// under a tag, a positive even number new for every folder.
constexpr int slot_free = 0;
constexpr int slot_busy = 1;

// A slot is taken and released by compare-and-swap, so that a signal handler
// on any thread removes each held folder once and never one half made or
// half removed; the tag keeps a stale handle from releasing a later folder
// of the same slot.
struct folder_slot {
    std::atomic<int> state{slot_free};
    char path[PATH_MAX];
};

inline folder_slot slots[folder_slots];
inline std::atomic<int> last_tag{0};

// A held private folder: its slot and tag; slot -1 for none.
struct folder_handle {
    int slot = -1;
    int tag = 0;
};

inline int next_tag() {
    int tag;
    do tag = (last_tag.fetch_add(1) & 0x3fffffff) * 2;
    while (tag == 0);
    return tag;
}

// Blocks every signal of the calling thread while a slot changes hands.
class signal_block {
public:
    signal_block() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &old_);
    }
    ~signal_block() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    signal_block(const signal_block&) = delete;
    signal_block& operator=(const signal_block&) = delete;

    // The mask before the block, which a forked child restores.
    const sigset_t& previous() const { return old_; }

private:
    sigset_t old_;
};

// The removal of a private folder with whatever a writer left in it, at any
// depth. System calls only (no allocation, no stdio), so that a signal
// handler may call it; no recursion, two folder descriptors open (two more
// for a moment), and time linear in the number of entries. A link is never
// followed: folders are opened with O_NOFOLLOW, and a link is removed
// itself.
//
// Nothing climbs through "..": the private folder is emptied through its
// descriptor, pass after pass. A file, a link or an empty folder goes at
// once; a folder that is not empty is opened and its entries are moved up
// into the private folder under fresh names, after which it is empty and
// goes. Each entry is moved at most once, and what was moved is seen by the
// same pass or the next. The passes end when one moves nothing up: the
// folder is then empty, or holds what cannot be removed, or what a writer
// still at work added after the pass had listed it.

// name := prefix followed by n in decimal.
inline void decimal_name(const char* prefix, unsigned long long n, char (&name)[32]) noexcept {
    char digits[24];
    int k = 0;
    do digits[k++] = static_cast<char>('0' + n % 10);
    while ((n /= 10) != 0);
    int at = 0;
    while (*prefix != '\0') name[at++] = *prefix++;
    while (k > 0) name[at++] = digits[--k];
    name[at] = '\0';
}

// A fresh name of the counter: "moved-<n>".
inline void fresh_name(unsigned long long n, char (&name)[32]) noexcept { decimal_name("moved-", n, name); }

// Gives the folder name of at its owner's permissions back when the writer
// left it without the right to read it (0000, 0300): it is reached without
// reading (O_PATH) and never through a link, and changed through its
// descriptor's name in /proc, as fchmod cannot change a folder so reached.
inline void permit_folder(int at, const char* name) noexcept {
    const int fd = ::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    char path[32];
    decimal_name("/proc/self/fd/", static_cast<unsigned long long>(fd), path);
    (void)::chmod(path, S_IRWXU);
    ::close(fd);
}

// Opens the folder name of at, never through a link. A folder that the
// writer left without owner permissions (0500, 0000) gets them back: the
// process owns it, and its entries must go.
inline int open_folder(int at, const char* name) noexcept {
    int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        permit_folder(at, name);
        fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU) (void)::fchmod(fd, S_IRWXU);
    return fd;
}

// renameat2 with RENAME_NOREPLACE; where the file system does not take the
// flag (NFS: EINVAL), the name is looked at first.
inline int rename_to_new(int from, const char* name, int into, const char* fresh) noexcept {
    if (::renameat2(from, name, into, fresh, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return -1;
    struct stat st;
    if (::fstatat(into, fresh, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(from, name, into, fresh);
}

// Moves the entry name of from into the folder into, under the next fresh
// name of counter that is free there. A folder moved to another parent
// needs its own write permission (its ".." changes): one left without it
// gets it, and the move is tried once more.
inline bool move_entry(int from, const char* name, int into, unsigned long long& counter) noexcept {
    bool permitted = false;
    for (;;) {
        char fresh[32];
        fresh_name(counter, fresh);
        if (rename_to_new(from, name, into, fresh) == 0) {
            ++counter;
            return true;
        }
        if (errno == EEXIST) {
            ++counter;
        } else if (errno == EACCES && !permitted) {
            permitted = true;
            const int fd = open_folder(from, name);
            if (fd < 0) return false;
            ::close(fd);
        } else {
            return false;
        }
    }
}

// Calls f(name) for every entry of the folder open at fd but "." and "..",
// from where its listing stands, while f returns true.
template <typename F>
inline void for_each_entry(int fd, F&& f) noexcept {
    alignas(dirent64) char buffer[4096];
    ssize_t n;
    while ((n = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const dirent64*>(buffer + at);
            at += e->d_reclen;
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            if (!f(name)) return;
        }
    }
}

// The entries one removal visits at most. A writer that goes on writing into
// the folder while it is removed (a child that the program writing there
// left running, holding the folder as its working folder) must not hold the
// process for ever, as it would if the removal took whatever it adds: the
// removal ends after this many entries, and a writer's files prolong no
// pass. Any tree that a program leaves beside its output, and then stops,
// takes far fewer.
inline constexpr unsigned long long visit_budget = 1ull << 16;

// Moves every entry of the folder from into the folder into, each a visit
// taken from budget; true when one moved.
inline bool move_entries_up(int from, int into, unsigned long long& counter, unsigned long long& budget) noexcept {
    bool moved = false;
    for_each_entry(from, [&](const char* name) {
        if (budget == 0) return false;
        --budget;
        if (move_entry(from, name, into, counter)) moved = true;
        return true;
    });
    return moved;
}

// Removes every entry of the folder open at fd, at any depth, each entry
// met a visit taken from budget.
inline void empty_folder(int fd, unsigned long long budget) noexcept {
    unsigned long long counter = 0;
    for (bool moved = true; moved;) {
        moved = false;
        if (::lseek(fd, 0, SEEK_SET) != 0) return;
        for_each_entry(fd, [&](const char* name) {
            if (budget == 0) return false;
            --budget;
            if (::unlinkat(fd, name, 0) == 0 || ::unlinkat(fd, name, AT_REMOVEDIR) == 0) return true;
            const int inner = open_folder(fd, name);  // fails for all but a folder
            if (inner < 0) return true;
            if (move_entries_up(inner, fd, counter, budget)) moved = true;
            ::close(inner);
            (void)::unlinkat(fd, name, AT_REMOVEDIR);
            return true;
        });
    }
}

// Renames the folder path to a new name beside it, path followed by "-<n>",
// into away; false when it cannot. Writers that reach the folder by its
// name lose it then.
inline bool move_aside(const char* path, char (&away)[PATH_MAX]) noexcept {
    const size_t length = ::strlen(path);
    if (length + 8 >= PATH_MAX) return false;
    ::memcpy(away, path, length);
    for (unsigned k = 0; k < 64; ++k) {
        char suffix[32];
        decimal_name("-", k, suffix);
        ::memcpy(away + length, suffix, ::strlen(suffix) + 1);
        if (rename_to_new(AT_FDCWD, path, AT_FDCWD, away) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

// The entries a removal visits in place: what a writer commonly leaves
// beside its output (a side file) goes without moving the folder.
inline constexpr unsigned long long in_place_visits = 16;

// Empties the folder with at most budget visits, then removes it; false
// when it stays.
inline bool empty_and_remove(const char* folder, unsigned long long budget) noexcept {
    const int fd = open_folder(AT_FDCWD, folder);
    if (fd >= 0) {
        empty_folder(fd, budget);
        ::close(fd);
    }
    return ::rmdir(folder) == 0 || errno == ENOENT;
}

// Removes the folder with everything in it; false when a folder stays. An
// empty folder (the common case: its file renamed into place) goes at once,
// one with a few entries in place. Any other is first moved aside, out of
// the way of a writer still at work that names the folder in its paths.
inline bool remove_folder(const char* path, unsigned long long budget = visit_budget) noexcept {
    if (::rmdir(path) == 0 || errno == ENOENT) return true;
    if (empty_and_remove(path, in_place_visits)) return true;
    char away[PATH_MAX];
    return empty_and_remove(move_aside(path, away) ? away : path, budget);
}

// Makes a private folder in folder ("" for the current one, else ending in
// '/'); the handle's slot is -1 when none can be made.
inline folder_handle make_private_folder(const std::string& folder) {
    const std::string pattern = folder + ".zarn-XXXXXX";
    if (pattern.size() >= PATH_MAX) return {};
    signal_block block;
    for (int k = 0; k < folder_slots; ++k) {
        int expected = slot_free;
        if (!slots[k].state.compare_exchange_strong(expected, slot_busy)) continue;
        std::memcpy(slots[k].path, pattern.c_str(), pattern.size() + 1);
        if (::mkdtemp(slots[k].path) == nullptr) {
            slots[k].state.store(slot_free);
            return {};
        }
        const int tag = next_tag();
        slots[k].state.store(tag);
        return {k, tag};
    }
    return {};
}

// Removes the folder with what it holds, unless it is gone already (a
// signal handler took it). False when the folder stays.
inline bool release_private_folder(folder_handle h) {
    if (h.slot < 0) return true;
    signal_block block;
    int expected = h.tag;
    if (!slots[h.slot].state.compare_exchange_strong(expected, slot_busy)) return true;
    const bool removed = remove_folder(slots[h.slot].path);
    slots[h.slot].state.store(slot_free);
    return removed;
}

// What is still staged when the process exits (an error exit never unwinds
// the stack) goes too.
struct removal_at_exit {
    ~removal_at_exit();
};
inline removal_at_exit at_exit;

}  // namespace staging

// Removes every private folder of the process with what it holds.
// Async-signal-safe: a handler of a signal that ends the process calls it.
inline void remove_private_folders() noexcept {
    for (staging::folder_slot& s : staging::slots) {
        int held = s.state.load();
        if (held == staging::slot_free || held == staging::slot_busy) continue;
        if (!s.state.compare_exchange_strong(held, staging::slot_busy)) continue;
        staging::remove_folder(s.path);
        s.state.store(staging::slot_free);
    }
}

inline staging::removal_at_exit::~removal_at_exit() { remove_private_folders(); }

class staged_file {
public:
    // Stages a write of path. Nothing is staged (ready() is false) when the
    // folder does not take a new folder of the process, or when path exists
    // and is not a regular file that may be written: a folder, a pipe or a
    // device is never replaced. A link that the user running the process
    // owns is written through: its target is replaced and keeps its
    // permissions. A link of another user is replaced itself, never
    // followed: planted in a shared folder, it must not send an output
    // elsewhere.
    explicit staged_file(const std::string& path) : target_(path) {
        mode_t mode = 0;
        if (!resolve_target(mode)) return;
        const std::string::size_type slash = target_.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
        folder_ = staging::make_private_folder(folder);
        if (folder_.slot < 0) return;
        const std::string temp = std::string(staging::slots[folder_.slot].path) + "/staged" +
                                 extension_of(target_.substr(folder.size()));
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            release();
            return;
        }
        ::close(fd);
        temp_ = temp;
        mode_ = mode;
    }
    ~staged_file() { discard(); }
    staged_file(const staged_file&) = delete;
    staged_file& operator=(const staged_file&) = delete;

    bool ready() const { return !temp_.empty(); }
    // The file to write, inside the private folder; empty when nothing is
    // staged. Other files or folders that a writer leaves beside it (or in
    // its place) go with the folder.
    const std::string& temp_path() const { return temp_; }
    // The private folder, ending in '/'; empty when nothing is staged.
    std::string folder_path() const {
        return ready() ? std::string(staging::slots[folder_.slot].path) + "/" : std::string();
    }
    // The file that a commit replaces: the given path, or the target of the
    // link it names.
    const std::string& target_path() const { return target_; }

    // Removes the staged file but keeps its name, for a writer that creates
    // the file itself (another program); false when it cannot be removed.
    bool vacate() { return ready() && ::unlink(temp_.c_str()) == 0; }

    // Whether the staged name holds a regular file (not a link).
    bool written() const {
        struct stat st;
        return ready() && ::lstat(temp_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    // Renames the written file over the final one, with the permissions of
    // the file it replaces. False when nothing is staged or the rename
    // fails; the private folder is removed either way.
    bool commit() {
        if (!ready()) return false;
        if (mode_ != 0) (void)::chmod(temp_.c_str(), mode_);
        const bool renamed = ::rename(temp_.c_str(), target_.c_str()) == 0;
        discard();
        return renamed;
    }

    // Removes the staged file and its private folder. False when they could
    // not be removed.
    bool discard() {
        if (!ready()) return true;
        (void)::unlink(temp_.c_str());  // the folder is then empty, unless a writer left more
        temp_.clear();
        return release();
    }

private:
    // Decides what a commit replaces; mode := the permissions to keep (0
    // for a new file). False when path must not be replaced.
    bool resolve_target(mode_t& mode) {
        struct stat link;
        if (::lstat(target_.c_str(), &link) != 0) return true;  // a new file
        if (S_ISLNK(link.st_mode) && link.st_uid != ::geteuid()) return true;
        struct stat st;
        if (::stat(target_.c_str(), &st) != 0) return true;  // an own dangling link is replaced
        if (!S_ISREG(st.st_mode) || ::access(target_.c_str(), W_OK) != 0) return false;
        if (S_ISLNK(link.st_mode)) {
            char resolved[PATH_MAX];
            if (::realpath(target_.c_str(), resolved) == nullptr) return false;
            target_ = resolved;
        }
        mode = st.st_mode & 07777;
        return true;
    }

    // The extension of a name, '.' included; none when it is too long to
    // name a format.
    static std::string extension_of(const std::string& name) {
        const std::string::size_type dot = name.rfind('.');
        if (dot == std::string::npos || name.size() - dot > 32) return "";
        return name.substr(dot);
    }

    bool release() {
        const staging::folder_handle h = folder_;
        folder_ = {};
        return staging::release_private_folder(h);
    }

    std::string target_;
    std::string temp_;
    mode_t mode_ = 0;  // of the replaced file; 0 for a new one
    staging::folder_handle folder_;
};

// Whether a staged write of path can start: its folder takes a private
// folder, and path is new or a regular file that may be written.
inline bool can_stage(const std::string& path) {
    staged_file probe(path);
    return probe.ready();
}

}  // namespace lumo

#endif
