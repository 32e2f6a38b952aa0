// Files written whole or not at all: the temporary file beside the final one,
// commit, discard, and the targets that are never replaced.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <lumo/details/file/staged_file.hpp>

#include "app/test_support.hpp"

namespace {

namespace fs = std::filesystem;
using zarn_test::read_file;

class StagedFile : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return t_ / name; }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(t_.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    zarn_test::temp_folder t_;
    const fs::path dir_{t_.path()};
};

void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST_F(StagedFile, CommitReplacesTheOldFileOnlyThen) {
    write(path("a_dist.png"), "old");
    lumo::staged_file f(path("a_dist.png"));
    ASSERT_TRUE(f.ready());
    // A short name with the final extension, in a hidden folder of the
    // final one that only its owner may enter.
    const fs::path temp(f.temp_path());
    EXPECT_EQ(temp.filename(), "staged.png");
    EXPECT_EQ(temp.parent_path().parent_path(), dir_);
    EXPECT_EQ(temp.parent_path().filename().string().front(), '.');
    struct stat st;
    ASSERT_EQ(stat(temp.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    write(f.temp_path(), "new");
    EXPECT_EQ(read_file(path("a_dist.png")), "old");
    EXPECT_TRUE(f.commit());
    EXPECT_FALSE(f.ready());
    EXPECT_EQ(read_file(path("a_dist.png")), "new");
    EXPECT_EQ(entries(), std::vector<std::string>{"a_dist.png"});
    EXPECT_FALSE(f.commit());  // nothing staged any more
}

TEST_F(StagedFile, UncommittedWritesLeaveNoTrace) {
    write(path("keep.txt"), "old");
    {
        lumo::staged_file f(path("keep.txt"));
        write(f.temp_path(), "half");
    }
    {
        lumo::staged_file f(path("new.txt"));
        write(f.temp_path(), "half");
        f.discard();
        EXPECT_FALSE(f.ready());
    }
    EXPECT_EQ(read_file(path("keep.txt")), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"keep.txt"});
}

TEST_F(StagedFile, TwoStagingsOfOneNameDoNotMeet) {
    lumo::staged_file a(path("x.txt")), b(path("x.txt"));
    ASSERT_TRUE(a.ready() && b.ready());
    EXPECT_NE(a.temp_path(), b.temp_path());
    write(a.temp_path(), "a");
    write(b.temp_path(), "b");
    EXPECT_TRUE(a.commit());
    EXPECT_TRUE(b.commit());
    EXPECT_EQ(read_file(path("x.txt")), "b");
}

TEST_F(StagedFile, PermissionsOfTheOldFileAreKept) {
    write(path("p.txt"), "old");
    ASSERT_EQ(chmod(path("p.txt").c_str(), 0640), 0);
    lumo::staged_file f(path("p.txt"));
    write(f.temp_path(), "new");
    ASSERT_TRUE(f.commit());
    struct stat st;
    ASSERT_EQ(stat(path("p.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(StagedFile, ALinkIsWrittenThrough) {
    write(path("target.txt"), "old");
    ASSERT_EQ(symlink("target.txt", path("link.txt").c_str()), 0);
    lumo::staged_file f(path("link.txt"));
    write(f.temp_path(), "new");
    ASSERT_TRUE(f.commit());
    EXPECT_TRUE(fs::is_symlink(path("link.txt")));
    EXPECT_EQ(read_file(path("target.txt")), "new");
}

// The user's own link that points at no file is replaced by the output,
// nothing made where it pointed; one that loops cannot be looked at
// through, so it is refused and stays.
TEST_F(StagedFile, AnOwnDanglingLinkIsReplacedOneThatLoopsIsRefused) {
    ASSERT_EQ(symlink("nowhere.txt", path("dangling.txt").c_str()), 0);
    lumo::staged_file f(path("dangling.txt"));
    ASSERT_TRUE(f.ready());
    write(f.temp_path(), "new");
    ASSERT_TRUE(f.commit());
    EXPECT_FALSE(fs::is_symlink(path("dangling.txt")));
    EXPECT_EQ(read_file(path("dangling.txt")), "new");
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("nowhere.txt"))));

    ASSERT_EQ(symlink("loop.txt", path("loop.txt").c_str()), 0);
    EXPECT_FALSE(lumo::staged_file(path("loop.txt")).ready());
    EXPECT_TRUE(fs::is_symlink(path("loop.txt")));
    EXPECT_EQ(entries(), (std::vector<std::string>{"dangling.txt", "loop.txt"}));
}

// Planted by another user in a shared folder, a link must not send the
// output elsewhere: it is replaced itself, and its target stays as it was.
TEST_F(StagedFile, ALinkOfAnotherUserIsReplacedNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    write(path("victim.txt"), "precious");
    ASSERT_EQ(symlink("victim.txt", path("out.txt").c_str()), 0);
    ASSERT_EQ(lchown(path("out.txt").c_str(), 4321, 4321), 0);
    lumo::staged_file f(path("out.txt"));
    EXPECT_EQ(f.target_path(), path("out.txt"));
    write(f.temp_path(), "output");
    ASSERT_TRUE(f.commit());
    EXPECT_FALSE(fs::is_symlink(path("out.txt")));
    EXPECT_EQ(read_file(path("out.txt")), "output");
    EXPECT_EQ(read_file(path("victim.txt")), "precious");
}

// The staged name is short whatever the final one: a final name of 249
// characters (legal) is staged and committed.
TEST_F(StagedFile, LongFinalNamesAreStaged) {
    const std::string name = std::string(240, 'n') + "_dist.png";
    lumo::staged_file f(path(name));
    ASSERT_TRUE(f.ready());
    write(f.temp_path(), "new");
    ASSERT_TRUE(f.commit());
    EXPECT_EQ(entries(), std::vector<std::string>{name});
}

// Side files that a writer leaves beside the staged one go with its private
// folder, on commit and on discard; what a signal handler removes is
// everything still staged.
TEST_F(StagedFile, TheWholePrivateFolderGoes) {
    {
        lumo::staged_file f(path("d.txt"));
        write(f.temp_path(), "descriptors");
        write(f.temp_path() + ".params", "side");
        EXPECT_EQ(f.folder_path(), fs::path(f.temp_path()).parent_path().string() + "/");
        ASSERT_TRUE(f.commit());
        lumo::staged_file g(path("e.txt"));
        write(g.temp_path() + ".params", "side");
        EXPECT_TRUE(g.discard());
    }
    EXPECT_EQ(entries(), std::vector<std::string>{"d.txt"});

    lumo::staged_file a(path("a.txt")), b(path("b.txt"));
    write(a.temp_path(), "a");
    write(b.temp_path() + ".params", "b");
    EXPECT_EQ(entries().size(), 3u);
    lumo::remove_private_folders();
    EXPECT_EQ(entries(), std::vector<std::string>{"d.txt"});
    EXPECT_FALSE(a.commit());  // nothing left to rename
    EXPECT_EQ(entries(), std::vector<std::string>{"d.txt"});
    EXPECT_TRUE(lumo::can_stage(path("c.txt")));
    EXPECT_FALSE(lumo::can_stage(path("no/such/folder/c.txt")));
    EXPECT_EQ(entries(), std::vector<std::string>{"d.txt"});
}

TEST_F(StagedFile, WhatIsNotARegularFileIsNeverReplaced) {
    fs::create_directory(path("folder.png"));
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0644), 0);
    for (const char* name : {"folder.png", "pipe.png", "no/such/folder/x.png"}) {
        lumo::staged_file f(path(name));
        EXPECT_FALSE(f.ready()) << name;
        EXPECT_FALSE(f.commit()) << name;
    }
    EXPECT_TRUE(fs::is_directory(path("folder.png")));
    EXPECT_TRUE(fs::is_fifo(path("pipe.png")));
    EXPECT_EQ(entries(), (std::vector<std::string>{"folder.png", "pipe.png"}));
}

}  // namespace

// A writer that creates the staged file itself (another program): until it
// does, nothing counts as written, and what it makes keeps the replaced
// file's permissions; a link it leaves is no written file.
TEST_F(StagedFile, AFileMadeByAnotherWriterKeepsTheOldPermissions) {
    write(path("a_desc.txt"), "old");
    ASSERT_EQ(chmod(path("a_desc.txt").c_str(), 0640), 0);
    lumo::staged_file f(path("a_desc.txt"));
    ASSERT_TRUE(f.vacate());
    EXPECT_FALSE(f.written());
    ASSERT_EQ(symlink("/etc/passwd", f.temp_path().c_str()), 0);
    EXPECT_FALSE(f.written());
    ASSERT_EQ(unlink(f.temp_path().c_str()), 0);
    const mode_t mask = umask(0);  // the writer's file would be 0666
    write(f.temp_path(), "new");
    umask(mask);
    EXPECT_TRUE(f.written());
    EXPECT_TRUE(f.commit());
    EXPECT_EQ(read_file(path("a_desc.txt")), "new");
    struct stat st;
    ASSERT_EQ(stat(path("a_desc.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(), std::vector<std::string>{"a_desc.txt"});
}

namespace {

// A folder tree as a writer may leave it: deep, with files, links and a
// fifo at several levels, names like those the removal makes up, and
// write-protected folders.
void leave_a_tree(const std::string& at, const std::string& outside) {
    fs::create_directories(at + "/moved-0/moved-1");
    ASSERT_EQ(symlink(outside.c_str(), (at + "-link").c_str()), 0);  // beside the tree
    write(at + "/moved-2", "taken");
    std::string level = at + "/tree";
    for (int depth = 1; depth <= 50; ++depth, level += "/d") {
        fs::create_directories(level);
        if (depth % 5 == 0) {
            write(level + "/f", "file");
            write(level + "/moved-3", "taken");
            ASSERT_EQ(symlink(outside.c_str(), (level + "/outside").c_str()), 0);
            ASSERT_EQ(symlink((outside + "/keep").c_str(), (level + "/keep").c_str()), 0);
            ASSERT_EQ(symlink("..", (level + "/up").c_str()), 0);
            ASSERT_EQ(symlink("nowhere", (level + "/dangling").c_str()), 0);
        }
        if (depth == 25) {
            ASSERT_EQ(mkfifo((level + "/fifo").c_str(), 0600), 0);
        }
    }
    // Write-protected: a folder with a protected folder in it, and a level of
    // the chain.
    fs::create_directories(at + "/protected/inner");
    write(at + "/protected/inner/f", "file");
    write(at + "/protected/f", "file");
    ASSERT_EQ(chmod((at + "/protected/inner").c_str(), 0500), 0);
    ASSERT_EQ(chmod((at + "/protected").c_str(), 0500), 0);
    ASSERT_EQ(chmod((at + "/tree/d/d/d").c_str(), 0500), 0);
}

// The descriptors open now: the highest number, plus one.
int descriptors_in_use() {
    int highest = -1;
    for (const auto& e : fs::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::stoi(e.path().filename().string()));
    return highest + 1;
}

}  // namespace

// What a writer leaves in the private folder, at any depth, goes with it;
// links are removed, never followed: what they point to stays.
TEST_F(StagedFile, ATreeLeftInThePrivateFolderGoesAndLinksAreNotFollowed) {
    const std::string outside = path("outside");
    fs::create_directories(outside + "/inner");
    write(outside + "/keep", "kept");
    write(outside + "/inner/keep", "kept too");
    {
        lumo::staged_file f(path("d.txt"));
        ASSERT_TRUE(f.vacate());
        // The writer made a folder at the staged name, and a tree beside it.
        fs::create_directories(f.temp_path() + "/sub");
        write(f.temp_path() + "/sub/f", "file");
        leave_a_tree(f.folder_path() + "side", outside);
        EXPECT_FALSE(f.written());
        EXPECT_TRUE(f.discard());
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"outside"}));

    // The same through the signal handler's removal.
    lumo::staged_file g(path("e.txt"));
    ASSERT_TRUE(g.ready());
    leave_a_tree(g.folder_path() + "side", outside);
    lumo::remove_private_folders();
    EXPECT_EQ(entries(), (std::vector<std::string>{"outside"}));

    EXPECT_EQ(read_file(outside + "/keep"), "kept");
    EXPECT_EQ(read_file(outside + "/inner/keep"), "kept too");
    std::vector<std::string> kept;
    for (const auto& e : fs::directory_iterator(outside)) kept.push_back(e.path().filename().string());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"inner", "keep"}));
}

// A chain of 10 000 folders (a path far beyond PATH_MAX, made with mkdirat
// and openat) goes, with a handful of descriptors at most and no recursion
// whose depth follows the tree.
TEST_F(StagedFile, TenThousandLevelsGoWithAFewDescriptors) {
    const std::string top = path("top");
    ASSERT_EQ(mkdir(top.c_str(), 0700), 0);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int depth = 0; depth < 10000; ++depth) {
        ASSERT_EQ(mkdirat(fd, "d", 0700), 0) << depth;
        if (depth % 1000 == 999) {
            ASSERT_EQ(close(openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0600)), 0);
        }
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(next, 0) << depth;
        close(fd);
        fd = next;
    }
    ASSERT_EQ(close(openat(fd, "bottom", O_WRONLY | O_CREAT | O_CLOEXEC, 0600)), 0);
    ASSERT_EQ(fchmod(fd, 0500), 0);
    close(fd);

    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit few = old;
    few.rlim_cur = static_cast<rlim_t>(descriptors_in_use() + 4);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    char stays[PATH_MAX];
    const bool removed = lumo::staging::remove_folder(top.c_str(), stays);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_TRUE(removed);
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

// What a writer left and no longer changes goes whole, however far beyond
// the budget of visits: that budget only bounds a removal fed by a writer
// still at work.
TEST_F(StagedFile, WhatNoWriterFeedsGoesWholePastTheBudget) {
    const std::string top = path("top");
    fs::create_directories(top + "/sub/deeper");
    for (int k = 0; k < 1000; ++k) {
        write(top + "/f" + std::to_string(k), "");
        write(top + "/sub/f" + std::to_string(k), "");
        write(top + "/sub/deeper/f" + std::to_string(k), "");
    }
    char stays[PATH_MAX];
    EXPECT_TRUE(lumo::staging::remove_folder(top.c_str(), stays, 10));
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

// Writers still at work in a private folder while it is removed, files and
// folders as fast as they can: one that names the folder in its paths loses
// it, as the folder is moved aside; one that holds it open (as a working
// folder) holds the removal only for its budget of visits. A folder that
// stays is named on standard error; once its writer has stopped, it goes
// whole. What the removal leaves depends on how far the writers got, never
// what is asserted.
TEST_F(StagedFile, WritersStillAtWorkDoNotHoldTheRemoval) {
    lumo::staged_file f(path("d.txt"));
    ASSERT_TRUE(f.ready());
    const std::string folder = f.folder_path();
    const std::string top = folder.substr(0, folder.size() - 1);
    const int held = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    std::atomic<bool> stop{false};
    std::atomic<long> by_name{0}, inside{0};
    const auto make = [](int at, const std::string& name) {
        const int fd = openat(at, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) close(fd);
        return fd >= 0;
    };
    std::thread naming([&] {
        for (long i = 0; !stop; ++i) {
            const std::string d = folder + "n" + std::to_string(i);
            if (mkdir(d.c_str(), 0700) == 0 && make(AT_FDCWD, d + "/f")) ++by_name;
        }
    });
    // It removes what it made 256 steps back: what it leaves stays bounded
    // however long the removal takes.
    std::thread holding([&] {
        for (long i = 0; !stop; ++i) {
            const std::string d = std::to_string(i) + "h";
            if (mkdirat(held, d.c_str(), 0700) == 0 && make(held, d + "/f") && make(held, std::to_string(i) + "f"))
                ++inside;
            const std::string old = std::to_string(i - 256);
            unlinkat(held, (old + "h/f").c_str(), 0);
            unlinkat(held, (old + "h").c_str(), AT_REMOVEDIR);
            unlinkat(held, (old + "f").c_str(), 0);
        }
    });
    while (by_name < 100 || inside < 100) std::this_thread::yield();
    testing::internal::CaptureStderr();
    const bool removed = lumo::staging::remove_or_report(top.c_str());
    const std::string said = testing::internal::GetCapturedStderr();
    stop = true;
    naming.join();
    holding.join();
    close(held);

    EXPECT_FALSE(fs::exists(top));
    if (removed) {
        EXPECT_EQ(said, "");
        EXPECT_EQ(entries(), std::vector<std::string>{});
    } else {
        const std::string aside = top + "-0";
        EXPECT_EQ(said, "Warning: private folder " + aside + " could not be removed!\n");
        EXPECT_EQ(entries(), std::vector<std::string>{fs::path(aside).filename().string()});
        char stays[PATH_MAX];
        EXPECT_TRUE(lumo::staging::remove_folder(aside.c_str(), stays));
    }
    EXPECT_TRUE(f.discard());  // its folder is gone already
    EXPECT_TRUE(entries().empty());
}

// A private folder that stays is named on standard error, on a line of its
// own, under the name it stays by: here, with no descriptor left, the
// folder in it cannot be opened to be emptied.
TEST_F(StagedFile, AFolderThatStaysIsNamed) {
    lumo::staged_file f(path("d.txt"));
    ASSERT_TRUE(f.ready());
    fs::create_directories(f.folder_path() + "sub/deeper");
    const std::string top = f.folder_path().substr(0, f.folder_path().size() - 1);
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    testing::internal::CaptureStderr();
    rlimit few = old;
    few.rlim_cur = static_cast<rlim_t>(descriptors_in_use() + 1);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    std::vector<int> taken;  // every descriptor left but one, for the folder itself
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
    ASSERT_FALSE(taken.empty());
    close(taken.back());
    taken.pop_back();
    const bool removed = f.discard();
    for (const int fd : taken) close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(removed);
    EXPECT_EQ(said, "Warning: private folder " + top + "-0 could not be removed!\n");
    EXPECT_EQ(entries(), std::vector<std::string>{fs::path(top).filename().string() + "-0"});
    char stays[PATH_MAX];
    EXPECT_TRUE(lumo::staging::remove_folder((top + "-0").c_str(), stays));
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

// What stands at the staged name when the file is committed must be the
// regular file that was written there, alone: a link, a pipe, a second link
// to a file elsewhere or a file of another owner left there is never
// followed nor opened, never changed, and never leaves the private folder;
// the commit fails and the earlier output stays as it was.
TEST_F(StagedFile, OnlyTheWrittenFileAtTheStagedNameIsCommitted) {
    write(path("outside.txt"), "outside");
    ASSERT_EQ(chmod(path("outside.txt").c_str(), 0644), 0);
    write(path("a_desc.txt"), "earlier");
    ASSERT_EQ(chmod(path("a_desc.txt").c_str(), 0600), 0);
    std::vector<std::string> kinds = {"link", "pipe", "hard link"};
    if (geteuid() == 0) kinds.push_back("another owner");  // only root can give a file away
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        lumo::staged_file f(path("a_desc.txt"));
        ASSERT_TRUE(f.vacate());
        const char* staged = f.temp_path().c_str();
        if (kind == "link") {
            ASSERT_EQ(symlink(path("outside.txt").c_str(), staged), 0);
        } else if (kind == "pipe") {
            ASSERT_EQ(mkfifo(staged, 0600), 0);
        } else if (kind == "hard link") {
            ASSERT_EQ(link(path("outside.txt").c_str(), staged), 0);
        } else {
            write(staged, "given away");
            ASSERT_EQ(chown(staged, 65534, 65534), 0);
        }
        EXPECT_FALSE(f.commit());
        // Read only a regular file: a pipe put at the output would block.
        struct stat st;
        ASSERT_EQ(lstat(path("a_desc.txt").c_str(), &st), 0);
        ASSERT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(read_file(path("a_desc.txt")), "earlier");
        ASSERT_EQ(stat(path("outside.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_EQ(read_file(path("outside.txt")), "outside");
        EXPECT_EQ(entries(), (std::vector<std::string>{"a_desc.txt", "outside.txt"}));
    }
}
