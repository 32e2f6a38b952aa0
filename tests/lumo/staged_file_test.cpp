// Files written whole or not at all: the temporary file beside the final one,
// commit, discard, and the targets that are never replaced.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
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
    // Hidden, in the same folder, ending in the final name (extension kept).
    const std::string temp = fs::path(f.temp_path()).filename().string();
    EXPECT_EQ(fs::path(f.temp_path()).parent_path(), dir_);
    EXPECT_EQ(temp.front(), '.');
    EXPECT_TRUE(temp.size() > 10 && temp.compare(temp.size() - 10, 10, "a_dist.png") == 0) << temp;
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
