#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "app/files.hpp"
#include "app/test_support.hpp"

using namespace lumo::zarn;
using zarn_test::make_folder;
using zarn_test::temp_folder;
using zarn_test::touch;

namespace {

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// root: a.png b.jpg .h.png dangling.png -> nowhere, loop -> . ,
// sub.png/f.png (a folder matching the pattern), sub/c.png,
// sub/deeper/d.png, sub/deeper/up -> ../.. , .hidden/e.png
void make_tree(const temp_folder& t) {
    touch(t / "a.png");
    touch(t / "b.jpg");
    touch(t / ".h.png");
    ASSERT_EQ(symlink("nowhere", (t / "dangling.png").c_str()), 0);
    ASSERT_EQ(symlink(".", (t / "loop").c_str()), 0);
    make_folder(t / "sub.png");
    touch(t / "sub.png/f.png");
    make_folder(t / "sub");
    touch(t / "sub/c.png");
    make_folder(t / "sub/deeper");
    touch(t / "sub/deeper/d.png");
    ASSERT_EQ(symlink("../..", (t / "sub/deeper/up").c_str()), 0);
    make_folder(t / ".hidden");
    touch(t / ".hidden/e.png");
}

}  // namespace

TEST(FileSearch, PlainSearchListsMatchingFilesNotFolders) {
    temp_folder t;
    make_tree(t);
    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "*.png", folder, files, false, unreadable);
    EXPECT_EQ(folder, t.path() + "/");
    // Hidden files match '*'; a dangling link counts as a file; the folder
    // sub.png is not listed.
    EXPECT_EQ(sorted(files), (std::vector<std::string>{".h.png", "a.png", "dangling.png"}));
}

TEST(FileSearch, RecursiveSearchEndsDespiteLinkCycles) {
    temp_folder t;
    make_tree(t);
    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "*.png", folder, files, true, unreadable);
    EXPECT_EQ(sorted(files),
              (std::vector<std::string>{".h.png", ".hidden/e.png", "a.png", "dangling.png",
                                        "sub.png/f.png", "sub/c.png", "sub/deeper/d.png"}));
    // Pre-order: a folder's own matches come before those of its subfolders.
    const auto pos = [&](const std::string& s) { return std::find(files.begin(), files.end(), s); };
    EXPECT_LT(pos("a.png"), pos("sub/c.png"));
    EXPECT_LT(pos("sub/c.png"), pos("sub/deeper/d.png"));
    EXPECT_TRUE(unreadable.empty());
}

// in: a.png, sub/x.png, sub/up -> .. , sub/self -> . , twin -> sub,
// out -> ../outside (outside/y.png), p/q -> ../r and r/p -> ../p (r/z.png)
TEST(FileSearch, RecursiveSearchFollowsLinksToFoldersUnderEveryPath) {
    temp_folder t;
    make_folder(t / "in");
    touch(t / "in/a.png");
    make_folder(t / "in/sub");
    touch(t / "in/sub/x.png");
    ASSERT_EQ(symlink("..", (t / "in/sub/up").c_str()), 0);
    ASSERT_EQ(symlink(".", (t / "in/sub/self").c_str()), 0);
    ASSERT_EQ(symlink("sub", (t / "in/twin").c_str()), 0);
    make_folder(t / "outside");
    touch(t / "outside/y.png");
    ASSERT_EQ(symlink("../outside", (t / "in/out").c_str()), 0);
    make_folder(t / "in/p");
    make_folder(t / "in/r");
    touch(t / "in/r/z.png");
    ASSERT_EQ(symlink("../r", (t / "in/p/q").c_str()), 0);
    ASSERT_EQ(symlink("../p", (t / "in/r/p").c_str()), 0);

    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "in/*.png", folder, files, true, unreadable);
    // Each path once; the links back up (up, self, and r/p/q, p/q/p back
    // to a folder on the way down) are not followed.
    EXPECT_EQ(sorted(files), (std::vector<std::string>{"a.png", "out/y.png", "p/q/z.png", "r/z.png",
                                                      "sub/x.png", "twin/x.png"}));
}

TEST(FileSearch, LinkToFolderIsSearchedNotListed) {
    temp_folder t;
    make_folder(t / "real");
    touch(t / "real/x.png");
    make_folder(t / "top");
    ASSERT_EQ(symlink("../real", (t / "top/link.png").c_str()), 0);
    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "top/*.png", folder, files, false, unreadable);
    EXPECT_TRUE(files.empty());
    expand_file_pattern(t / "top/*.png", folder, files, true, unreadable);
    EXPECT_EQ(files, (std::vector<std::string>{"link.png/x.png"}));
}

TEST(FileSearch, ExactNamesTrailingSlashAndWildcardFolders) {
    temp_folder t;
    make_tree(t);
    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "a.png", folder, files, false, unreadable);
    EXPECT_EQ(files, (std::vector<std::string>{"a.png"}));
    files.clear();
    expand_file_pattern(t / "sub/", folder, files, true, unreadable);  // no name: nothing
    EXPECT_TRUE(files.empty());
    // The folder part is taken literally.
    expand_file_pattern(t / "s*/c.png", folder, files, false, unreadable);
    EXPECT_TRUE(files.empty());
    expand_file_pattern(t / "missing/*.png", folder, files, true, unreadable);
    EXPECT_TRUE(files.empty());
    EXPECT_TRUE(unreadable.empty());  // a folder that does not exist lists nothing
}

// root: x[1].png, d[1].png/ (a folder), sub/x[1].png, sub/deeper/x[1].png
TEST(FileSearch, PatternMatchingNothingIsTakenLiterally) {
    temp_folder t;
    touch(t / "x[1].png");
    make_folder(t / "d[1].png");
    make_folder(t / "sub");
    touch(t / "sub/x[1].png");
    make_folder(t / "sub/deeper");
    touch(t / "sub/deeper/x[1].png");
    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "x[1].png", folder, files, false, unreadable);
    EXPECT_EQ(files, (std::vector<std::string>{"x[1].png"}));
    files.clear();
    expand_file_pattern(t / "x[1].png", folder, files, true, unreadable);
    EXPECT_EQ(sorted(files),
              (std::vector<std::string>{"sub/deeper/x[1].png", "sub/x[1].png", "x[1].png"}));
    files.clear();
    expand_file_pattern(t / "d[1].png", folder, files, false, unreadable);  // never a folder
    EXPECT_TRUE(files.empty());

    // A match anywhere, even in a subfolder only, leaves the pattern a pattern.
    touch(t / "sub/x1.png");
    expand_file_pattern(t / "x[1].png", folder, files, true, unreadable);
    EXPECT_EQ(files, (std::vector<std::string>{"sub/x1.png"}));
    files.clear();
    expand_file_pattern(t / "x[1].png", folder, files, false, unreadable);
    EXPECT_EQ(files, (std::vector<std::string>{"x[1].png"}));

    // A backslash makes fnmatch look for another name: a\b.png matches
    // ab.png only, so a file of that very name is found literally.
    touch(t / "a\\b.png");
    files.clear();
    expand_file_pattern(t / "a\\b.png", folder, files, false, unreadable);
    EXPECT_EQ(files, (std::vector<std::string>{"a\\b.png"}));
}

TEST(PathUtilities, SplittingAndSlashes) {
    std::string folder, name;
    EXPECT_TRUE(split_path("img/x/a.png", folder, name));
    EXPECT_EQ(folder, "img/x/");
    EXPECT_EQ(name, "a.png");
    EXPECT_TRUE(split_path("a.png", folder, name));
    EXPECT_EQ(folder, "./");
    EXPECT_FALSE(split_path("img/", folder, name));
    EXPECT_EQ(folder, "img/");

    std::string p = "a//";
    EXPECT_TRUE(strip_trailing_slashes(p));
    EXPECT_EQ(p, "a");
    EXPECT_FALSE(strip_trailing_slashes(p));
    p = "/";
    EXPECT_TRUE(strip_trailing_slashes(p));
    EXPECT_EQ(p, "");

    std::string f;
    EXPECT_FALSE(ensure_trailing_slash(f));
    EXPECT_EQ(f, "");
    f = "out";
    EXPECT_TRUE(ensure_trailing_slash(f));
    EXPECT_EQ(f, "out/");
    EXPECT_FALSE(ensure_trailing_slash(f));

    EXPECT_TRUE(has_wildcard("*.png"));
    EXPECT_TRUE(has_wildcard("a?.png"));
    EXPECT_TRUE(has_wildcard("a[12].png"));
    EXPECT_TRUE(has_wildcard("{a,b}.png"));
    EXPECT_FALSE(has_wildcard("dir/a.png"));

    EXPECT_EQ(extension_position("photos.v2/cat"), std::string::npos);
    EXPECT_EQ(extension_position("photos.v2/cat.png"), 13u);
    EXPECT_EQ(extension_position("cat"), std::string::npos);
}

TEST(PathUtilities, ExistenceTestsThePathItselfNotAPattern) {
    temp_folder t;
    make_folder(t / "out1");
    touch(t / "file");
    ASSERT_EQ(symlink("nowhere", (t / "dangling").c_str()), 0);
    EXPECT_TRUE(path_exists(t / "out1", true));
    EXPECT_TRUE(path_exists(t / "out1//", true));
    EXPECT_FALSE(path_exists(t / "out[1]", true));  // would match out1 as a pattern
    EXPECT_FALSE(path_exists(t / "out?", false));
    EXPECT_TRUE(path_exists(t / "file", false));
    EXPECT_FALSE(path_exists(t / "file", true));
    EXPECT_TRUE(path_exists(t / "dangling", false));
    EXPECT_FALSE(is_directory(t / "dangling"));
    EXPECT_FALSE(path_exists("", false));
    EXPECT_TRUE(is_directory("/"));
    EXPECT_TRUE(is_directory("./"));
}

TEST(PathUtilities, FolderCreationWithParents) {
    temp_folder t;
    std::string folder;
    EXPECT_TRUE(make_dir_recursive(t / "out/a/b/x.png", folder));
    EXPECT_TRUE(is_directory(t / "out/a/b"));
    EXPECT_TRUE(make_dir_recursive(t / "out/a/b/y.png", folder));  // exists already
    EXPECT_EQ(folder, t / "out/a/b/");

    // A folder named like the wanted one cannot be made over a file.
    touch(t / "blocked");
    EXPECT_FALSE(make_dir_recursive(t / "blocked/x/y.png", folder));
    EXPECT_FALSE(make_dir_recursive(t / "blocked/y.png", folder));
    EXPECT_EQ(folder, t / "blocked");
    // A folder whose name holds wildcards is made literally.
    EXPECT_TRUE(make_dir_recursive(t / "out[1]/z.png", folder));
    EXPECT_TRUE(is_directory(t / "out[1]"));
    // A folder that another run made between the look and the making serves;
    // a file, or a link to one, does not.
    EXPECT_TRUE(make_dir(t / "out"));
    EXPECT_FALSE(make_dir(t / "blocked"));
    ASSERT_EQ(symlink((t / "blocked").c_str(), (t / "link").c_str()), 0);
    EXPECT_FALSE(make_dir(t / "link"));
}

TEST(PathUtilities, RemoveAndRunCommand) {
    temp_folder t;
    touch(t / "f");
    EXPECT_TRUE(remove_file(t / "f"));
    EXPECT_FALSE(remove_file(t / "f"));

    EXPECT_TRUE(run_command("true"));
    // An executable in the current folder, not on the search path, runs on
    // the second try with "./" in front.
    touch(t / "zarn_probe_tool", "#!/bin/sh\necho run >> log\n");
    chmod((t / "zarn_probe_tool").c_str(), 0755);
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof old));
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    const bool ok = run_command("zarn_probe_tool > /dev/null 2>&1");
    const bool failed = run_command("exit 3");
    ASSERT_EQ(chdir(old), 0);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(failed);
    std::ifstream log(t / "log");
    std::string line;
    int lines = 0;
    while (std::getline(log, line)) ++lines;
    EXPECT_EQ(lines, 1);
}

// root: a.png, p.png (a pipe), l.png -> p.png, sub/b.png, sub/q.png (a pipe)
TEST(FileSearchPipes, WildcardAndRecursiveSearchesListRegularFilesOnly) {
    temp_folder t;
    touch(t / "a.png");
    ASSERT_EQ(mkfifo((t / "p.png").c_str(), 0644), 0);
    ASSERT_EQ(symlink("p.png", (t / "l.png").c_str()), 0);
    ASSERT_EQ(symlink("a.png", (t / "la.png").c_str()), 0);
    make_folder(t / "sub");
    touch(t / "sub/b.png");
    ASSERT_EQ(mkfifo((t / "sub/q.png").c_str(), 0644), 0);

    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "*.png", folder, files, true, unreadable);
    EXPECT_EQ(sorted(files), (std::vector<std::string>{"a.png", "la.png", "sub/b.png"}));

    // A name without wildcards is listed whatever it is: loading refuses it.
    files.clear();
    expand_file_pattern(t / "p.png", folder, files, false, unreadable);
    EXPECT_EQ(files, std::vector<std::string>{"p.png"});
    files.clear();
    expand_file_pattern(t / "q.png", folder, files, true, unreadable);
    EXPECT_TRUE(files.empty());
}

namespace {

// The folder made in the folder open as fd, itself open; -1 on failure.
// Paths longer than the system takes are made this way.
int make_folder_at(int fd, const std::string& name) {
    if (mkdirat(fd, name.c_str(), 0755) != 0) return -1;
    return openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
}

void touch_at(int fd, const std::string& name) {
    const int file = openat(fd, name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0) << name;
    close(file);
}

// The status with which a forked child running f ends (f's result), or -1.
// The child leaves by _exit: the parent's temporary folders stay its own.
template <typename F>
int in_child(F f) {
    const pid_t pid = fork();
    if (pid == 0) _exit(f());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// At most `limit` descriptors for this process.
bool limit_descriptors(rlim_t limit) {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return false;
    r.rlim_cur = limit;
    return setrlimit(RLIMIT_NOFILE, &r) == 0;
}

}  // namespace

// t/a.png, then folders of 200 characters down to a folder P whose path
// leaves less than 256 characters to PATH_MAX; P/c.png, and in P two
// folders whose own paths reach PATH_MAX: x... (its path with the '/' the
// search adds, exactly PATH_MAX characters: it cannot be opened) and y...
// (one longer: it cannot even be looked at). Each holds a file.
TEST(FileSearchUnreadable, FoldersWhosePathsAreTooLongAreNotedAsTheSearchNamesThem) {
    temp_folder t;
    touch(t / "a.png");
    std::string prefix;  // of P, under t
    int fd = open(t.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const std::string level(200, 'l');
    while (PATH_MAX - static_cast<int>((t.path() + "/" + prefix).size()) > 255) {
        const int sub = make_folder_at(fd, level);
        close(fd);
        ASSERT_GE(fd = sub, 0);
        prefix += level + "/";
    }
    const std::string p = t.path() + "/" + prefix;
    const size_t room = PATH_MAX - p.size();
    touch_at(fd, "c.png");
    const std::string x(room - 1, 'x'), y(room, 'y');
    for (const std::string& name : {x, y}) {
        const int sub = make_folder_at(fd, name);
        ASSERT_GE(sub, 0) << name.size();
        touch_at(sub, "d.png");
        close(sub);
    }
    close(fd);

    std::string folder;
    std::vector<std::string> files, unreadable;
    expand_file_pattern(t / "*.png", folder, files, true, unreadable);
    EXPECT_EQ(sorted(files), (std::vector<std::string>{"a.png", prefix + "c.png"}));
    EXPECT_EQ((p + x + "/").size(), static_cast<size_t>(PATH_MAX));
    EXPECT_EQ(sorted(unreadable), (std::vector<std::string>{p + x + "/", p + y + "/"}));

    // Without -r nothing below the search folder is opened.
    files.clear();
    unreadable.clear();
    expand_file_pattern(t / "*.png", folder, files, false, unreadable);
    EXPECT_EQ(files, std::vector<std::string>{"a.png"});
    EXPECT_TRUE(unreadable.empty());
}

// A chain of 100 folders searched with at most 32 descriptors: no folder is
// held open on the way down.
TEST(FileSearchUnreadable, DepthCostsNoDescriptor) {
    temp_folder t;
    std::string deep;
    for (int i = 0; i < 100; ++i) {
        deep += "d/";
        make_folder(t / deep);
    }
    touch(t / (deep + "x.png"));
    touch(t / "a.png");
    const int status = in_child([&] {
        if (!limit_descriptors(32)) return 2;
        std::string folder;
        std::vector<std::string> files, unreadable;
        expand_file_pattern(t / "*.png", folder, files, true, unreadable);
        const std::vector<std::string> expected{"a.png", deep + "x.png"};
        return files == expected && unreadable.empty() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

// No descriptor left: the search folder cannot be opened and is noted,
// once, also when the pattern is then taken literally; a single name is
// tested in its place instead.
TEST(FileSearchUnreadable, SearchFolderWithoutADescriptorLeft) {
    temp_folder t;
    touch(t / "a.png");
    const std::string folder_name = t.path() + "/";
    const int status = in_child([&] {
        if (!limit_descriptors(32)) return 2;
        while (open("/dev/null", O_RDONLY) >= 0) {
        }
        std::string folder;
        std::vector<std::string> files, unreadable;
        expand_file_pattern(t / "*.png", folder, files, true, unreadable);
        if (!files.empty() || unreadable != std::vector<std::string>{folder_name}) return 3;
        unreadable.clear();
        expand_file_pattern(t / "*.png", folder, files, false, unreadable);
        if (!files.empty() || unreadable != std::vector<std::string>{folder_name}) return 4;
        unreadable.clear();
        expand_file_pattern(t / "a.png", folder, files, false, unreadable);
        if (files != std::vector<std::string>{"a.png"} || !unreadable.empty()) return 5;
        files.clear();
        expand_file_pattern(t / "b.png", folder, files, false, unreadable);
        if (!files.empty() || !unreadable.empty()) return 6;
        expand_file_pattern(t / "a.png", folder, files, true, unreadable);  // -r: opened
        if (!files.empty() || unreadable != std::vector<std::string>{folder_name}) return 7;
        return 0;
    });
    EXPECT_EQ(status, 0);
}
