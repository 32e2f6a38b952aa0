// A window closed by the window manager (its title bar's close button), or
// destroyed by another X client, counts as a key press: the run goes on
// exactly as keys make it. Skipped without a display.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <regex>
#include <string>
#include <vector>

#include "e2e/view_harness.hpp"

using zarn_test::run_closing_in_view;
using zarn_test::run_destroying_in_view;
using zarn_test::run_in_view;
using zarn_test::temp_folder;
using zarn_test::view_run;

namespace {

const std::string binary = ZARN_BINARY;

// Small enough for a few windows per grassfire, uneven enough for merges.
void write_ramp(const temp_folder& t) {
    cv::Mat img(18, 22, CV_8UC1);
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) img.at<unsigned char>(r, c) = (r * 11 + c * c * 3) % 256;
    ASSERT_TRUE(cv::imwrite(t / "ramp.png", img));
}

// Times differ from run to run, and so does the padding that aligns them
// (a time of one more digit has one space less); everything else must not.
std::string without_times(const std::string& out) {
    return std::regex_replace(out, std::regex(" *" + zarn_test::ms_pattern), " <time>");
}

// Runs the arguments once with a key pressed in every window and once with
// every window ended by `end` (closed or destroyed, with a short deadline):
// the same status, titles and lines, times aside.
template <typename Ending>
void expect_as_after_keys(const std::string& args, Ending end) {
    SCOPED_TRACE(args);
    temp_folder keys, ended;
    write_ramp(keys);
    write_ramp(ended);
    const view_run pressed = run_in_view(keys, binary, args);
    const view_run other = end(ended, binary, args, 30);
    ASSERT_EQ(pressed.status, 0) << pressed.err;
    EXPECT_FALSE(pressed.titles.empty());
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(other.titles, pressed.titles);
    EXPECT_EQ(without_times(other.out), without_times(pressed.out));
}

}  // namespace

// A single window, the distance and medial grassfires, the cuts, the merging
// steps and a sample's two windows: the same titles and lines either way. A
// run that hangs on a closed window ends at the short deadline with the
// status of `timeout`, not 0.
TEST(ViewClose, EveryWindowKindClosedByTheWindowManagerGoesOnAsAfterAKey) {
    REQUIRE_DISPLAY();
    for (const std::string args : {"-v -d ramp.png", "-v -df 5 -d ramp.png", "-m -mf 5 -t ramp.png out",
                                   "-p -vc -t ramp.png out", "-p -pc 3 -vi -t -vs ramp.png out", "-sa 3"})
        expect_as_after_keys(args, run_closing_in_view);
}

// The toolkit still reports a window destroyed by another client (xdotool
// windowclose) visible; a single window and the merging view's two of the
// same title must still end each wait. A run that hangs ends at the
// short deadline with the status of `timeout`, not 0.
TEST(ViewDestroyed, WindowsDestroyedByAnotherClientGoOnAsAfterAKey) {
    REQUIRE_DISPLAY();
    for (const std::string args : {"-v -d ramp.png", "-p -pc 3 -vi -t -vs ramp.png out"})
        expect_as_after_keys(args, run_destroying_in_view);
}

// Runs the arguments `runs` times, one after the other, while another X
// client destroys every window of zarn's title on the very event that titles
// it: each run's status and standard output, and the windows destroyed.
struct destroyed_runs {
    std::vector<int> statuses;
    std::vector<std::string> outputs;
    size_t destroyed = 0;
};

destroyed_runs run_destroyed_on_sight(const temp_folder& t, const std::string& args, int runs) {
    const std::string script = R"SH(
cd "$1" || exit 2
"$2" > destroyed.txt & destroyer=$!
until grep -q ready destroyed.txt; do sleep 0.01; done
for i in $(seq 1 "$4"); do
  timeout 30 $3 > "out$i.txt" 2> /dev/null
  echo $? >> statuses.txt
done
kill $destroyer
)SH";
    zarn_test::touch(t / "sight.sh", script);
    zarn_test::run("bash " + zarn_test::quote(t / "sight.sh") + " " + zarn_test::quote(t.path()) + " " +
                   zarn_test::quote(ZARN_DESTROY_ON_SIGHT) + " " + zarn_test::quote(binary + " " + args) + " " +
                   std::to_string(runs));
    destroyed_runs r;
    for (const std::string& s : zarn_test::lines_of(zarn_test::read_file(t / "statuses.txt")))
        r.statuses.push_back(std::atoi(s.c_str()));
    for (int i = 1; i <= runs; ++i) r.outputs.push_back(zarn_test::read_file(t / ("out" + std::to_string(i) + ".txt")));
    for (const std::string& line : zarn_test::lines_of(zarn_test::read_file(t / "destroyed.txt")))
        r.destroyed += line.compare(0, 10, "destroyed ") == 0;
    return r;
}

// A window destroyed the instant it exists, before zarn could have looked
// for it, still ends its wait: every run ends as with keys, one window
// destroyed per window shown. A run that hangs ends at its deadline with the
// status of `timeout`, not 0.
TEST(ViewDestroyed, WindowsDestroyedTheInstantTheyAreTitledGoOnAsAfterAKey) {
    REQUIRE_DISPLAY();
    const struct {
        std::string args;
        int runs;
    } cases[] = {{"-v -d ramp.png", 20}, {"-p -pc 3 -vi -t -vs ramp.png out", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        temp_folder keys, destroyed;
        write_ramp(keys);
        write_ramp(destroyed);
        const view_run pressed = run_in_view(keys, binary, c.args);
        ASSERT_EQ(pressed.status, 0) << pressed.err;
        const destroyed_runs r = run_destroyed_on_sight(destroyed, c.args, c.runs);
        EXPECT_EQ(r.statuses, std::vector<int>(c.runs, 0));
        for (const std::string& out : r.outputs) EXPECT_EQ(without_times(out), without_times(pressed.out));
        EXPECT_EQ(r.destroyed, pressed.titles.size() * c.runs);
    }
}

// Two runs show windows of the same title; destroying the later one's window
// ends that run only: the earlier one still waits for its key.
TEST(ViewDestroyed, AnotherRunsWindowOfTheSameTitleIsNotTaken) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_ramp(t);
    const std::string script = R"SH(
cd "$1" && mkdir earlier later && cp ramp.png earlier/ && cp ramp.png later/ || exit 2
shown() { xdotool search --onlyvisible --name ' -- zarn$' 2>/dev/null; }
(cd earlier && exec "$2" -v -d ramp.png > out.txt) & earlier=$!
until a=$(shown | head -n 1); [ -n "$a" ]; do sleep 0.05; done
(cd later && exec "$2" -v -d ramp.png > out.txt) & later=$!
until b=$(shown | grep -vx "$a" | head -n 1); [ -n "$b" ]; do sleep 0.05; done
xdotool windowclose "$b"
wait $later; echo "later: $?"
sleep 0.5
kill -0 $earlier && echo "earlier: open"
xdotool windowfocus --sync "$a" key space
wait $earlier; echo "earlier: $?"
)SH";
    zarn_test::touch(t / "two.sh", script);
    const auto r = zarn_test::run("timeout 30 bash " + zarn_test::quote(t / "two.sh") + " " +
                                  zarn_test::quote(t.path()) + " " + zarn_test::quote(binary));
    EXPECT_EQ(r.out, "later: 0\nearlier: open\nearlier: 0\n");
    EXPECT_EQ(without_times(zarn_test::read_file(t / "later/out.txt")),
              without_times(zarn_test::read_file(t / "earlier/out.txt")));
}

// Watching for destroyed windows must not end a wait by itself: every window,
// the merging view's two of the same title too, is still there when looked
// at again after a while, and only then given its key.
TEST(ViewDestroyed, AWindowLeftAloneWaitsForItsKey) {
    REQUIRE_DISPLAY();
    const std::string patient = R"SH(#!/bin/sh
if ! grep -qx "$1" waited.txt 2>/dev/null; then
  echo "$1" >> waited.txt
  sleep 0.5
  xdotool search --onlyvisible --name ' -- zarn$' | grep -qx "$1" || echo "$1" >> ended_alone.txt
fi
xdotool windowfocus --sync "$1" key space
)SH";
    for (const std::string args : {"-v -d ramp.png", "-p -pc 3 -vi -t -vs ramp.png out"}) {
        SCOPED_TRACE(args);
        temp_folder t;
        write_ramp(t);
        zarn_test::executable(t / "patient.sh", patient);
        const view_run r = zarn_test::run_view_script(t, binary + " " + args, t / "patient.sh", 30);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.titles.empty());
        EXPECT_EQ(zarn_test::lines_of(zarn_test::read_file(t / "waited.txt")).size(), r.titles.size());
        EXPECT_EQ(zarn_test::read_file(t / "ended_alone.txt"), "");
    }
}
