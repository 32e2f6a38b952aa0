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
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>  // renameat2, RENAME_NOREPLACE
#include <cstdlib>
#include <cstring>
#include <optional>
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
// handler may call it; no recursion, four descriptors open at most, and
// time linear in the number of entries. A link is never followed: folders
// are opened with O_NOFOLLOW, and a link is removed itself.
//
// Nothing climbs through "..": the private folder is emptied through its
// descriptor, pass after pass. A file, a link or an empty folder goes at
// once; a folder that is not empty is opened, what of it can go at once
// goes, and the folders in it that are not empty are moved up into the
// private folder under fresh names, after which it is empty and goes. What
// was moved is seen by the same pass or the next. The passes go on while
// one removes or moves anything, so that whatever was left and no longer
// changes goes whole, whatever its size. Only a writer still at work in the
// folder (a child that the program writing there left running) could feed
// the removal for ever: the removal watches the folders it empties for new
// entries, which it never makes itself, and once it has seen one it ends
// after a bounded number of further visits.

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

// The name of the open descriptor fd in /proc, which reaches the very file
// or folder it was opened on, never a link.
inline void descriptor_name(int fd, char (&name)[32]) noexcept {
    decimal_name("/proc/self/fd/", static_cast<unsigned long long>(fd), name);
}

// Sets the permissions of the file or folder open at fd, also where fd was
// opened without reading it (O_PATH), which fchmod refuses.
inline int change_mode(int fd, mode_t mode) noexcept {
    char name[32];
    descriptor_name(fd, name);
    return ::chmod(name, mode);
}

// A fresh name of the counter: "moved-<n>".
inline void fresh_name(unsigned long long n, char (&name)[32]) noexcept { decimal_name("moved-", n, name); }

// Gives the folder name of at its owner's permissions back when the writer
// left it without the right to read it (0000, 0300): it is reached without
// reading (O_PATH) and never through a link.
inline void permit_folder(int at, const char* name) noexcept {
    const int fd = ::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    (void)change_mode(fd, S_IRWXU);
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

// The visits a removal makes at most once it has seen a writer at work in
// the folder. A writer that goes on writing into the folder while it is
// removed (holding it as its working folder) must not hold the process for
// ever, as it would if the removal took whatever it adds; what the writer
// adds after that stays.
inline constexpr unsigned long long visit_budget = 1ull << 16;

// One removal: the fresh names it has used, the folders it watches for new
// entries, and its visits, free until a writer is seen, then taken from the
// budget. Where the folders cannot be watched (no inotify instance left,
// no /proc), every visit counts from the start.
class removal {
public:
    explicit removal(unsigned long long budget) noexcept
        : budget_(budget), events_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), counting_(events_ < 0) {}
    ~removal() {
        if (events_ >= 0) ::close(events_);
    }
    removal(const removal&) = delete;
    removal& operator=(const removal&) = delete;

    // Watches the folder open at fd for new entries; the watch, or -1.
    int watch(int fd) noexcept {
        if (events_ < 0) return -1;
        char name[32];
        descriptor_name(fd, name);
        const int wd = ::inotify_add_watch(events_, name, IN_CREATE | IN_ONLYDIR);
        if (wd < 0) counting_ = true;
        return wd;
    }
    void unwatch(int wd) noexcept {
        if (wd >= 0) (void)::inotify_rm_watch(events_, wd);
    }

    // Takes a visit; false when none is left. The events are looked at
    // every 64 visits.
    bool take() noexcept {
        if (!counting_ && (++visits_ & 63) == 0) counting_ = writer_seen();
        return !counting_ || spend();
    }

    // Takes a visit from the budget, writer seen or not; false when none
    // is left.
    bool spend() noexcept {
        if (budget_ == 0) return false;
        --budget_;
        return true;
    }

    unsigned long long counter = 0;  // the next fresh name

private:
    // Whether a watched folder got an entry since the last look (or events
    // were lost).
    bool writer_seen() noexcept {
        alignas(inotify_event) char buffer[4096];
        bool seen = false;
        ssize_t n;
        while ((n = ::read(events_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((e->mask & (IN_CREATE | IN_Q_OVERFLOW)) != 0) seen = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return seen;
    }

    unsigned long long budget_;
    unsigned long long visits_ = 0;
    int events_;
    bool counting_;
};

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

// Removes the entry name of the folder open at fd if it is a file, a link
// or an empty folder; false when it is none of these or cannot go.
inline bool remove_entry(int fd, const char* name) noexcept {
    return ::unlinkat(fd, name, 0) == 0 || ::unlinkat(fd, name, AT_REMOVEDIR) == 0;
}

// Removes what of the folder from can go at once and moves the rest (the
// folders that hold entries) up into the folder into, each entry a visit;
// true when one went or moved.
inline bool clear_or_move_up(int from, int into, removal& r) noexcept {
    bool progress = false;
    for_each_entry(from, [&](const char* name) {
        if (!r.take()) return false;
        if (remove_entry(from, name) || move_entry(from, name, into, r.counter)) progress = true;
        return true;
    });
    return progress;
}

// One pass over the folder open at fd, each entry met a visit: listed :=
// whether it met any. True when it removed or moved anything.
inline bool removal_pass(int fd, removal& r, bool& listed) noexcept {
    bool progress = false;
    listed = false;
    if (::lseek(fd, 0, SEEK_SET) != 0) return false;
    for_each_entry(fd, [&](const char* name) {
        if (!r.take()) return false;
        listed = true;
        if (remove_entry(fd, name)) {
            progress = true;
            return true;
        }
        const int inner = open_folder(fd, name);  // fails for all but a folder
        if (inner < 0) return true;
        const int watched = r.watch(inner);
        if (clear_or_move_up(inner, fd, r)) progress = true;
        r.unwatch(watched);
        ::close(inner);
        if (::unlinkat(fd, name, AT_REMOVEDIR) == 0) progress = true;
        return true;
    });
    return progress;
}

// Empties the folder and removes it, pass after pass while a pass removes
// or moves anything; budget bounds the visits once a writer is seen. A
// pass that finds nothing while the folder is not empty (an entry came
// after its listing) takes a visit from the budget in any case. False when
// the folder stays.
inline bool empty_and_remove(const char* folder, unsigned long long budget) noexcept {
    const int fd = open_folder(AT_FDCWD, folder);
    if (fd < 0) return ::rmdir(folder) == 0 || errno == ENOENT;
    removal r(budget);
    r.watch(fd);
    bool removed = false;
    for (;;) {
        bool listed = false;
        const bool progress = removal_pass(fd, r, listed);
        if (::rmdir(folder) == 0 || errno == ENOENT) {
            removed = true;
            break;
        }
        if (errno != ENOTEMPTY && errno != EEXIST) break;
        if (!progress && (listed || !r.spend())) break;
    }
    ::close(fd);
    return removed;
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

// The visits a removal in place makes once it has seen a writer: then the
// folder is moved out of the way of writers that name it in their paths.
inline constexpr unsigned long long in_place_visits = 16;

// Removes the folder path with everything in it. An empty folder (the
// common case: its file renamed into place) goes at once, one that no
// writer is still filling goes in place; one where a writer is at work is
// first moved aside. False when a folder stays: stays then names it.
inline bool remove_folder(const char* path, char (&stays)[PATH_MAX],
                          unsigned long long budget = visit_budget) noexcept {
    if (::rmdir(path) == 0 || errno == ENOENT) return true;
    if (empty_and_remove(path, in_place_visits)) return true;
    if (!move_aside(path, stays)) ::memcpy(stays, path, ::strlen(path) + 1);
    return empty_and_remove(stays, budget);
}

// Says on standard error, on a line of its own, that the folder stays.
// Async-signal-safe.
inline void report_staying(const char* folder) noexcept {
    const char* const parts[] = {"Warning: private folder ", folder, " could not be removed!\n"};
    for (const char* part : parts) {
        for (size_t left = ::strlen(part); left > 0;) {
            const ssize_t n = ::write(STDERR_FILENO, part, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            part += n;
            left -= static_cast<size_t>(n);
        }
    }
}

// Removes the folder, and names it on standard error when it stays; false
// then.
inline bool remove_or_report(const char* path) noexcept {
    char stays[PATH_MAX];
    if (remove_folder(path, stays)) return true;
    report_staying(stays);
    return false;
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
    const bool removed = remove_or_report(slots[h.slot].path);
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
        staging::remove_or_report(s.path);
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
        std::optional<mode_t> kept;
        if (!resolve_target(kept)) return;
        const std::string folder = folder_of(target_);
        folder_ = staging::make_private_folder(folder);
        if (folder_.slot < 0) return;
        const std::string temp = std::string(staging::slots[folder_.slot].path) + "/staged" +
                                 extension_of(target_.substr(folder.size()));
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        struct stat st;
        const bool made = fd >= 0 && ::fstat(fd, &st) == 0;
        if (fd >= 0) ::close(fd);
        if (!made) {
            release();
            return;
        }
        temp_ = temp;
        kept_mode_ = kept;
        owner_ = st.st_uid;
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
    // the file it replaces. False when nothing is staged, when the staged
    // name holds no regular file of one link and of this process's owner (a
    // link that a writer left there is never followed, nor renamed out of
    // the folder), when the rename fails, or when what the rename put at the
    // final name was not that file; the private folder is removed either way.
    bool commit() {
        if (!ready()) return false;
        const bool renamed = place();
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
    // Decides what a commit replaces; kept := the permissions to keep, none
    // for a new file. False when path must not be replaced, or cannot be
    // looked at: only "no such file" makes a new file (a path too long to
    // look at is no new file).
    bool resolve_target(std::optional<mode_t>& kept) {
        struct stat link;
        if (::lstat(target_.c_str(), &link) != 0) return errno == ENOENT;
        if (S_ISLNK(link.st_mode) && link.st_uid != ::geteuid()) return true;
        struct stat st;
        if (::stat(target_.c_str(), &st) != 0) return errno == ENOENT;  // an own dangling link is replaced
        if (!S_ISREG(st.st_mode) || ::access(target_.c_str(), W_OK) != 0) return false;
        if (S_ISLNK(link.st_mode)) {
            char resolved[PATH_MAX];
            if (::realpath(target_.c_str(), resolved) == nullptr) return false;
            target_ = resolved;
        }
        kept = st.st_mode & 07777;
        return true;
    }

    // The staged file is checked where it stands, reached without following
    // a link and without being opened (a device or a pipe is never opened):
    // a regular file with one link, of the owner that this process's files
    // get here, so that no file elsewhere shares what is done to it. Its
    // permissions are set through that descriptor, which also keeps its
    // inode from being reused, and it is renamed over the final name.
    bool place() {
        const int fd = ::open(temp_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat checked;
        bool placed = false;
        if (::fstat(fd, &checked) == 0 && sole_own_file(checked)) {
            if (kept_mode_) (void)staging::change_mode(fd, *kept_mode_);
            placed = rename_over_target(fd, checked);
        }
        ::close(fd);
        return placed;
    }

    bool sole_own_file(const struct stat& st) const {
        return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == owner_;
    }

    // Renames the staged name over the final one and looks at what the
    // final name holds then, through the final folder, never following a
    // link. The checked file (open at fd) alone: placed. Another entry, while
    // the checked file has no link left: the file was placed, and a later
    // write of the same name (another run) replaced it, as any later write
    // may; that entry is left alone. Another entry while the checked file
    // is still linked elsewhere: what the rename moved was never the
    // written file (a writer exchanged the staged name in between), and it
    // is taken away.
    bool rename_over_target(int fd, const struct stat& checked) {
        const std::string folder = folder_of(target_);
        const char* name = target_.c_str() + folder.size();
        const int at = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (at < 0) return false;
        bool placed = false;
        if (::renameat(AT_FDCWD, temp_.c_str(), at, name) == 0) {
            struct stat st, now;
            placed = (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && sole_own_file(st) &&
                      st.st_dev == checked.st_dev && st.st_ino == checked.st_ino) ||
                     (::fstat(fd, &now) == 0 && now.st_nlink == 0);
            if (!placed) take_away(at, name);
        }
        ::close(at);
        return placed;
    }

    // Takes the entry name of the folder open at at away whole, whatever it
    // is (a folder tree included): it is moved into the private folder,
    // whose removal takes everything and follows no link; where it cannot
    // be moved, it is removed as a name.
    void take_away(int at, const char* name) {
        const int into = ::open(staging::slots[folder_.slot].path, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        unsigned long long counter = 0;
        const bool moved = into >= 0 && staging::move_entry(at, name, into, counter);
        if (into >= 0) ::close(into);
        if (!moved) (void)staging::remove_entry(at, name);
    }

    // The folder part of a path, ending in '/'; "" for none.
    static std::string folder_of(const std::string& path) {
        const std::string::size_type slash = path.rfind('/');
        return slash == std::string::npos ? "" : path.substr(0, slash + 1);
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
    std::optional<mode_t> kept_mode_;  // of the replaced file; none for a new one
    // The owner of the files this process makes in the folder: its own, or
    // the one a file system gives them (NFS mapping root, FAT).
    uid_t owner_ = 0;
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
