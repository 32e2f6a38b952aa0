// What a run leaves in an output folder that others may share, end to end:
// every file zarn and qev create there is created exclusively or inside a
// private folder of the run (seen by strace), simultaneous descriptor runs
// do not meet, a run ended by a signal leaves nothing staged behind, and
// output names of any legal length are written.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::exists;
using zarn_test::lines_of;
using zarn_test::listing;
using zarn_test::make_folder;
using zarn_test::matches;
using zarn_test::quote;
using zarn_test::read_file;
using zarn_test::read_picture;
using zarn_test::run;
using zarn_test::run_zarn;
using zarn_test::small_picture;
using zarn_test::temp_folder;
using zarn_test::touch;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

const std::string binary = ZARN_BINARY;
const std::string qev_path = zarn_test::qev_on_path();

// A path of the trace relative to the run's folder: "./" and repeated '/'
// dropped, the folder's own absolute prefix too.
std::string relative(std::string p, const std::string& folder) {
    if (p.compare(0, folder.size() + 1, folder + "/") == 0) p = p.substr(folder.size() + 1);
    std::string out;
    for (char c : p)
        if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
    while (out.compare(0, 2, "./") == 0) out = out.substr(2);
    return out;
}

bool inside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size() + 1, folder + "/") == 0;
}

// The calls of a trace that make a name in a folder, with their paths and
// flags, one process per trace file (strace -ff), in call order.
struct creating_call {
    std::string call, path, second, flags;
};

std::vector<creating_call> creating_calls(const std::string& trace_text, const std::string& folder) {
    static const std::regex open_call(R"re(^(open|openat)\((?:[^,]+, )?"([^"]*)", ([A-Z_|0-9]+).*\)\s+= \d+$)re");
    static const std::regex one_path(R"re(^(creat|mkdir|mkdirat|mknod|mknodat)\((?:AT_FDCWD, )?"([^"]*)", ([0-7]+).*\)\s+= 0$)re");
    static const std::regex two_paths(
        R"re(^(rename|renameat|renameat2|link|linkat|symlink|symlinkat)\((?:AT_FDCWD, )?"([^"]*)", (?:AT_FDCWD, )?"([^"]*)".*\)\s+= 0$)re");
    std::vector<creating_call> calls;
    for (const std::string& line : lines_of(trace_text)) {
        std::smatch m;
        if (std::regex_match(line, m, open_call)) {
            if (m[3].str().find("O_CREAT") != std::string::npos)
                calls.push_back({m[1], relative(m[2], folder), "", m[3]});
        } else if (std::regex_match(line, m, one_path)) {
            calls.push_back({m[1], relative(m[2], folder), "", m[3]});
        } else if (std::regex_match(line, m, two_paths)) {
            calls.push_back({m[1], relative(m[2], folder), relative(m[3], folder), ""});
        }
    }
    return calls;
}

}  // namespace

// Traced with strace, a run with every kind of output and the descriptor
// program makes each file in the output folder either with O_EXCL or inside
// a folder it made there with mode 0700, and renames into place only from
// such a folder; nothing but the outputs is left.
TEST(ZarnSharedFolder, EveryFileIsCreatedExclusivelyOrInAPrivateFolder) {
    if (run("strace -f -o /dev/null true").status != 0) GTEST_SKIP() << "strace cannot trace here";
    temp_folder t;
    small_picture(t / "c.png");
    make_folder(t / "traces");
    const binary_run r = run_zarn(
        t, "-d -m -f -fi -de c.png out",
        // The leak checker of a sanitizer build cannot run under ptrace.
        qev_path + " ASAN_OPTIONS=detect_leaks=0 strace -ff -o traces/t -e trace=open,openat,creat,mkdir,mkdirat,mknod,mknodat,"
                     "rename,renameat,renameat2,link,linkat,symlink,symlinkat");
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // The calls of every process in the output folder; the private folders
    // first, whichever process made them.
    std::vector<std::pair<std::string, creating_call>> calls;
    std::set<std::string> private_folders;
    size_t by_qev = 0;
    const std::vector<std::string> traces = lines_of(run("ls " + quote(t / "traces")).out);
    EXPECT_GE(traces.size(), 2u);  // zarn and qev
    for (const std::string& trace : traces) {
        const std::string text = read_file(t / ("traces/" + trace));
        const bool qev_process = text.find("staged.txt.params") != std::string::npos;
        for (const creating_call& c : creating_calls(text, t.path())) {
            if (!inside(c.path, "out") && !inside(c.second, "out")) continue;
            calls.push_back({trace, c});
            if (qev_process) ++by_qev;
            if (c.call == "mkdir" || c.call == "mkdirat") private_folders.insert(c.path);
        }
    }
    for (const auto& [trace, c] : calls) {
        const std::string where = trace + ": " + c.call + " " + c.path + " " + c.second + " " + c.flags;
        const std::string parent = c.path.substr(0, c.path.rfind('/'));
        if (c.call == "mkdir" || c.call == "mkdirat")
            EXPECT_EQ(c.flags, "0700") << where;
        else if (c.call == "open" || c.call == "openat")
            EXPECT_TRUE(c.flags.find("O_EXCL") != std::string::npos || private_folders.count(parent)) << where;
        else if (c.call.compare(0, 6, "rename") == 0)
            EXPECT_TRUE(private_folders.count(parent)) << where;
        else
            ADD_FAILURE() << "unexpected " << where;
    }
    EXPECT_GE(private_folders.size(), 5u);
    EXPECT_GT(by_qev, 0u);  // qev's output and its side file were traced too
    EXPECT_EQ(listing(t / "out"), (std::vector<std::string>{"c_desc.txt", "c_dist.png", "c_feat.png",
                                                             "c_feat.txt", "c_med.png"}));
}

// Ten pairs of identical -de runs started together on one output folder:
// every run succeeds, and only the descriptor file is left.
TEST(ZarnSharedFolder, SimultaneousDescriptorRunsDoNotMeet) {
    temp_folder t;
    small_picture(t / "c.png");
    const std::string z = quote(binary);
    const std::string script = "cd " + quote(t.path()) + " || exit 2\n" + "export " + qev_path + "\n" +
                               "for i in 1 2 3 4 5 6 7 8 9 10; do\n"
                               "  " + z + " -de c.png out > a.$i 2>&1 & a=$!\n"
                               "  " + z + " -de c.png out > b.$i 2>&1 & b=$!\n"
                               "  wait $a; echo $? >> status; wait $b; echo $? >> status\n"
                               "done\n";
    touch(t / "pairs.sh", script);
    ASSERT_EQ(run("bash " + quote(t / "pairs.sh")).status, 0);
    std::string all_succeeded;
    for (int i = 0; i < 20; ++i) all_succeeded += "0\n";
    EXPECT_EQ(read_file(t / "status"), all_succeeded)
        << read_file(t / "a.1") << read_file(t / "b.1");
    for (int i = 1; i <= 10; ++i)
        for (const char* who : {"a.", "b."}) {
            const std::string out = read_file(t / (who + std::to_string(i)));
            EXPECT_TRUE(matches(out, "c\\.png: done in " + ms + "  \\[descriptors: " + ms + "\\]\n")) << out;
        }
    EXPECT_EQ(listing(t / "out"), std::vector<std::string>{"c_desc.txt"});
    EXPECT_EQ(read_file(t / "out/c_desc.txt").substr(0, 4), "128\n");
}

// A run ended by a signal while qev runs ends qev too, leaves nothing it
// staged, and ends with the signal's conventional status: Ctrl-C (sent to
// the run's process group, as a terminal does), SIGTERM, SIGHUP and others.
TEST(ZarnInterrupts, SignalWhileQevRunsLeavesNothingStaged) {
    temp_folder t;
    small_picture(t / "c.png");
    make_folder(t / "bin");
    // A qev that says it has started and then waits.
    zarn_test::executable(t / "bin/qev", "#!/bin/sh\necho $$ > " + quote(t / "qev.pid") + "\nexec sleep 60\n");
    const std::string z = quote(binary);
    struct signal_case {
        const char* name;
        const char* kill_target;  // "$z" for the process, "-$z" for its group
        int status;
    };
    // Any signal whose default action ends a process: those that timeout and
    // kill may be given, a real-time one among them, too.
    for (const signal_case& c :
         {signal_case{"INT", "-$z", 130}, signal_case{"TERM", "$z", 143}, signal_case{"HUP", "$z", 129},
          signal_case{"USR1", "$z", 138}, signal_case{"ALRM", "$z", 142}, signal_case{"RTMIN+3", "$z", 128 + 37}}) {
        run("rm -rf " + quote(t / "out") + " " + quote(t / "qev.pid"));
        const std::string script =
            "set -m\ncd " + quote(t.path()) + " || exit 2\n" + "PATH=" + quote(t / "bin") +
            ":/usr/bin:/bin " + z + " -f -de c.png out > out.txt 2> err.txt &\n"
            "z=$!\n"
            "for i in $(seq 600); do [ -s qev.pid ] && break; sleep 0.05; done\n"
            "[ -s qev.pid ] || exit 3\n"
            "kill -" + std::string(c.name) + " " + c.kill_target + "\n"
            "wait $z; echo $? > status\n"
            "sleep 0.2\n"
            // A killed qev may stay a zombie of a parent that does not reap.
            "state=$(ps -o stat= -p $(cat qev.pid))\n"
            "case $state in ''|Z*) ;; *) echo running > qev.state; kill $(cat qev.pid);; esac\n";
        touch(t / "interrupt.sh", script);
        ASSERT_EQ(run("bash " + quote(t / "interrupt.sh")).status, 0) << c.name;
        EXPECT_EQ(read_file(t / "status"), std::to_string(c.status) + "\n") << c.name;
        EXPECT_FALSE(exists(t / "qev.state")) << c.name << ": qev outlived the run";
        // The feature file that -f keeps was written before qev started.
        EXPECT_EQ(listing(t / "out"), std::vector<std::string>{"c_feat.txt"}) << c.name;
        EXPECT_EQ(read_file(t / "err.txt"), "") << c.name;
    }
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"bin", "c.png", "err.txt", "interrupt.sh",
                                                          "out", "out.txt", "qev.pid", "status"}));
}

// A write beyond the file-size limit ends the run by SIGXFSZ (status 153)
// with nothing staged left. With the signal ignored the write fails instead:
// the message then stands on a line of its own after the open "done in"
// line of -de, and the run ends with status 1.
TEST(ZarnInterrupts, FileSizeLimit) {
    temp_folder t;
    copy_data("coins.png", t / "c.png");
    make_folder(t / "out");
    touch(t / "out/c_dist.png", "old");
    binary_run r = run_zarn(t, "-d c.png out", "ulimit -c 0; ulimit -f 8;");
    EXPECT_EQ(r.status, 128 + 25) << r.out;
    EXPECT_EQ(listing(t / "out"), std::vector<std::string>{"c_dist.png"});
    EXPECT_EQ(read_file(t / "out/c_dist.png"), "old");

    r = run_zarn(t, "-de -d c.png out", qev_path + "; trap '' XFSZ; ulimit -f 8;");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.out, "c\\.png: done in " + ms + "\nCannot open output file out/c_dist\\.png !\n"))
        << r.out;
    EXPECT_EQ(listing(t / "out"), std::vector<std::string>{"c_dist.png"});
}

// An input stem of 240 characters: every output name (up to 249
// characters) is written, the descriptor file through qev too.
TEST(ZarnSharedFolder, LongOutputNames) {
    temp_folder t;
    const std::string stem(240, 's');
    small_picture(t / (stem + ".png"));
    const binary_run r = run_zarn(t, "-d -m -f -fi -de " + stem + ".png", qev_path);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{stem + ".png", stem + "_desc.txt",
                                                          stem + "_dist.png", stem + "_feat.png",
                                                          stem + "_feat.txt", stem + "_med.png"}));
}

// Two runs writing one output, the first one looking at the output name
// after its rename only once the second one has run whole (strace stops it
// right after the rename): the later write stands, as with any two
// writers, and both runs succeed, for a descriptor file and for a picture;
// the output is what a plain run writes, and nothing else stays.
TEST(ZarnSharedFolder, ARunWhoseOutputALaterRunReplacedSucceeds) {
    if (!zarn_test::can_trace()) GTEST_SKIP() << "strace cannot trace here";
    for (const auto& [command, output] :
         {std::pair<std::string, std::string>{"-de", "c_desc.txt"}, {"-d", "c_dist.png"}}) {
        SCOPED_TRACE(command);
        temp_folder t;
        small_picture(t / "c.png");
        ASSERT_EQ(run_zarn(t, command + " c.png plain", qev_path).status, 0);
        binary_run second;
        const zarn_test::stopped_run first = zarn_test::run_stopped_after_rename(
            t, command + " c.png out", qev_path, [&] { second = run_zarn(t, command + " c.png out", qev_path); });
        ASSERT_TRUE(first.stopped) << first.out << first.err;
        EXPECT_EQ(first.status, 0) << first.out << first.err;
        EXPECT_EQ(second.status, 0) << second.out << second.err;
        EXPECT_EQ(first.err, "");
        EXPECT_EQ(second.err, "");
        EXPECT_EQ(listing(t / "out"), std::vector<std::string>{output});
        EXPECT_EQ(read_file(t / ("out/" + output)), read_file(t / ("plain/" + output)));
    }
}

// Eight descriptor runs on one output, their commits released together
// (each qev, a stand-in, waits until all eight have started it), two
// rounds: every run succeeds, and the output is whole. A run that ends
// before its qev waits releases the others.
TEST(ZarnSharedFolder, EightRunsReleasedTogetherOnOneOutputAllSucceed) {
    temp_folder t;
    small_picture(t / "c.png");
    make_folder(t / "bin");
    const std::string here = quote(t.path());
    zarn_test::executable(t / "bin/qev", "#!/bin/sh\n"
                                         "while [ $# -gt 0 ]; do [ \"$1\" = -o1 ] && out=$2; shift; done\n"
                                         "touch " + here + "/ready.$$\n"
                                         "until [ -e " + here + "/go ] || [ ! -d " + here + " ]; do sleep 0.01; done\n"
                                         "printf '128\\n0\\n' > \"$out\"\n");
    const std::string script =
        "cd " + here + " || exit 2\nexport PATH=" + quote(t / "bin") + ":/usr/bin:/bin\n"
        "for round in 1 2; do\n"
        "  rm -f ready.* go; pids=\n"
        "  for i in 1 2 3 4 5 6 7 8; do " + quote(binary) + " -de c.png out > out.$round.$i 2>&1 & pids=\"$pids $!\"; done\n"
        "  while [ $(ls ready.* 2> /dev/null | wc -l) -lt 8 ] && [ $(jobs -rp | wc -l) -eq 8 ]; do sleep 0.01; done\n"
        "  touch go\n"
        "  for p in $pids; do wait $p; echo $? >> status; done\n"
        "  [ \"$(cat out/c_desc.txt)\" = \"$(printf '128\\n0')\" ] || echo \"round $round: the output\" >> faults\n"
        "  [ \"$(ls -A out)\" = c_desc.txt ] || echo \"round $round: $(ls -A out)\" >> faults\n"
        "done\n";
    touch(t / "rounds.sh", script);
    ASSERT_EQ(run("bash " + quote(t / "rounds.sh")).status, 0);
    std::string all_succeeded;
    for (int i = 0; i < 8 * 2; ++i) all_succeeded += "0\n";
    EXPECT_EQ(read_file(t / "status"), all_succeeded) << read_file(t / "out.1.1");
    EXPECT_EQ(read_file(t / "faults"), "");
}

// An output path of 4096 bytes or more (an output folder spelt with many
// "./") cannot be looked at, so it is never taken for a new file: the run
// is refused before the image is computed, an earlier output keeps its content and
// mode, and the user's own link at an output stays a link.
TEST(ZarnSharedFolder, AnOutputPathTooLongToLookAtIsRefused) {
    temp_folder t;
    const std::string stem(200, 's');
    small_picture(t / (stem + ".png"));
    make_folder(t / "out");
    touch(t / ("out/" + stem + "_dist.png"), "earlier");
    ASSERT_EQ(chmod((t / ("out/" + stem + "_dist.png")).c_str(), 0600), 0);
    touch(t / "target.png", "target");
    ASSERT_EQ(symlink("../target.png", (t / ("out/" + stem + "_med.png")).c_str()), 0);
    std::string folder;
    for (int k = 0; k < 1945; ++k) folder += "./";
    folder += "out/";
    ASSERT_GE((folder + stem + "_dist.png").size(), 4096u);
    for (const auto& [command, suffix] : {std::pair<std::string, std::string>{"-d", "_dist.png"}, {"-m", "_med.png"}}) {
        SCOPED_TRACE(command);
        const binary_run r = run_zarn(t, command + " " + stem + ".png " + folder);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, stem + ".png: \nCannot open output file " + folder + stem + suffix + " !\n");
    }
    struct stat st;
    ASSERT_EQ(lstat((t / ("out/" + stem + "_dist.png")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(read_file(t / ("out/" + stem + "_dist.png")), "earlier");
    ASSERT_EQ(lstat((t / ("out/" + stem + "_med.png")).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(t / "target.png"), "target");
    EXPECT_EQ(listing(t / "out"), (std::vector<std::string>{stem + "_dist.png", stem + "_med.png"}));
}

// As root, whom no mode stops: an earlier output of mode 0000 is replaced
// and keeps that mode, a picture, a feature file and a descriptor file
// alike.
TEST(ZarnSharedFolder, AnEarlierOutputOfModeZeroKeepsIt) {
    if (!zarn_test::running_as_root()) GTEST_SKIP() << "only root writes over a file of mode 0000";
    temp_folder t;
    small_picture(t / "c.png");
    make_folder(t / "out");
    for (const auto& [command, output] : {std::pair<std::string, std::string>{"-d", "c_dist.png"},
                                          {"-f", "c_feat.txt"}, {"-de", "c_desc.txt"}}) {
        SCOPED_TRACE(command);
        touch(t / ("out/" + output), "earlier");
        ASSERT_EQ(chmod((t / ("out/" + output)).c_str(), 0), 0);
        const binary_run r = run_zarn(t, command + " c.png out", qev_path);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        struct stat st;
        ASSERT_EQ(lstat((t / ("out/" + output)).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0u);
        EXPECT_NE(read_file(t / ("out/" + output)), "earlier");
    }
    EXPECT_EQ(listing(t / "out"), (std::vector<std::string>{"c_desc.txt", "c_dist.png", "c_feat.txt"}));
}
