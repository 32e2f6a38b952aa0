#include <gtest/gtest.h>
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
    std::vector<std::string> files;
    expand_file_pattern(t / "*.png", folder, files, false);
    EXPECT_EQ(folder, t.path() + "/");
    // Hidden files match '*'; a dangling link counts as a file; the folder
    // sub.png is not listed.
    EXPECT_EQ(sorted(files), (std::vector<std::string>{".h.png", "a.png", "dangling.png"}));
}

TEST(FileSearch, RecursiveSearchEndsDespiteLinkCycles) {
    temp_folder t;
    make_tree(t);
    std::string folder;
    std::vector<std::string> files;
    expand_file_pattern(t / "*.png", folder, files, true);
    EXPECT_EQ(sorted(files),
              (std::vector<std::string>{".h.png", ".hidden/e.png", "a.png", "dangling.png",
                                        "sub.png/f.png", "sub/c.png", "sub/deeper/d.png"}));
    // Pre-order: a folder's own matches come before those of its subfolders.
    const auto pos = [&](const std::string& s) { return std::find(files.begin(), files.end(), s); };
    EXPECT_LT(pos("a.png"), pos("sub/c.png"));
    EXPECT_LT(pos("sub/c.png"), pos("sub/deeper/d.png"));
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
    std::vector<std::string> files;
    expand_file_pattern(t / "in/*.png", folder, files, true);
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
    std::vector<std::string> files;
    expand_file_pattern(t / "top/*.png", folder, files, false);
    EXPECT_TRUE(files.empty());
    expand_file_pattern(t / "top/*.png", folder, files, true);
    EXPECT_EQ(files, (std::vector<std::string>{"link.png/x.png"}));
}

TEST(FileSearch, ExactNamesTrailingSlashAndWildcardFolders) {
    temp_folder t;
    make_tree(t);
    std::string folder;
    std::vector<std::string> files;
    expand_file_pattern(t / "a.png", folder, files, false);
    EXPECT_EQ(files, (std::vector<std::string>{"a.png"}));
    files.clear();
    expand_file_pattern(t / "sub/", folder, files, true);  // no name: nothing
    EXPECT_TRUE(files.empty());
    expand_file_pattern(t / "s*/c.png", folder, files, false);  // folder taken literally
    EXPECT_TRUE(files.empty());
    expand_file_pattern(t / "missing/*.png", folder, files, true);
    EXPECT_TRUE(files.empty());
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
    std::vector<std::string> files;
    expand_file_pattern(t / "x[1].png", folder, files, false);
    EXPECT_EQ(files, (std::vector<std::string>{"x[1].png"}));
    files.clear();
    expand_file_pattern(t / "x[1].png", folder, files, true);
    EXPECT_EQ(sorted(files),
              (std::vector<std::string>{"sub/deeper/x[1].png", "sub/x[1].png", "x[1].png"}));
    files.clear();
    expand_file_pattern(t / "d[1].png", folder, files, false);  // never a folder
    EXPECT_TRUE(files.empty());

    // A match anywhere, even in a subfolder only, leaves the pattern a pattern.
    touch(t / "sub/x1.png");
    expand_file_pattern(t / "x[1].png", folder, files, true);
    EXPECT_EQ(files, (std::vector<std::string>{"sub/x1.png"}));
    files.clear();
    expand_file_pattern(t / "x[1].png", folder, files, false);
    EXPECT_EQ(files, (std::vector<std::string>{"x[1].png"}));

    // A backslash makes fnmatch look for another name: a\b.png matches
    // ab.png only, so a file of that very name is found literally.
    touch(t / "a\\b.png");
    files.clear();
    expand_file_pattern(t / "a\\b.png", folder, files, false);
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
    std::vector<std::string> files;
    expand_file_pattern(t / "*.png", folder, files, true);
    EXPECT_EQ(sorted(files), (std::vector<std::string>{"a.png", "la.png", "sub/b.png"}));

    // A name without wildcards is listed whatever it is: loading refuses it.
    files.clear();
    expand_file_pattern(t / "p.png", folder, files, false);
    EXPECT_EQ(files, std::vector<std::string>{"p.png"});
    files.clear();
    expand_file_pattern(t / "q.png", folder, files, true);
    EXPECT_TRUE(files.empty());
}
