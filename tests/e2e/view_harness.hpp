// Runs the built binary in view mode under the test's X display and presses a
// key in every window it opens, or closes it as the window manager does, or
// destroys it as another X client may, recording the window titles in order.
#ifndef ZARN_TESTS_E2E_VIEW_HARNESS_HPP
#define ZARN_TESTS_E2E_VIEW_HARNESS_HPP

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

// Window tests need the test's X display.
#define REQUIRE_DISPLAY() \
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY"

namespace zarn_test {

struct view_run {
    int status = -1;                  // the binary's exit status
    std::string out;                  // its standard output
    std::string err;                  // its standard error, for diagnostics
    std::vector<std::string> titles;  // every window it opened, in order
};

// Each window is found by the program's name at the end of its title, then
// given the focus and a space key, or, with a `closer` command, closed by it
// (given the window's id as its last argument); the window must be gone
// before the next one is looked for. A window still there is pressed or
// closed again; the whole run has a deadline, so a broken program fails the
// test instead of hanging it.
inline view_run run_view_script(const temp_folder& t, const std::string& command,
                                const std::string& closer, int deadline_seconds) {
    const std::string script = R"SH(
cd "$1" || exit 2
closer=$4
close_window() {
  if [ -n "$closer" ]; then $closer "$1"; else xdotool windowfocus --sync "$1" key space; fi
}
( timeout "$3" $2 > out.txt 2> err.txt; echo $? > rc.txt ) &
runner=$!
end=$((SECONDS + $3))
: > titles.txt
while kill -0 $runner 2>/dev/null && [ $SECONDS -lt $end ]; do
  id=$(xdotool search --onlyvisible --name ' -- zarn$' 2>/dev/null | head -n 1)
  if [ -z "$id" ]; then sleep 0.05; continue; fi
  name=$(xdotool getwindowname "$id" 2>/dev/null) || continue
  printf '%s\n' "$name" >> titles.txt
  while kill -0 $runner 2>/dev/null && [ $SECONDS -lt $end ] &&
        xdotool search --onlyvisible --name ' -- zarn$' 2>/dev/null | grep -qx "$id"; do
    close_window "$id" >/dev/null 2>&1
    sleep 0.1
  done
done
wait $runner
)SH";
    view_run r;
    touch(t / "view.sh", script);
    run("bash " + quote(t / "view.sh") + " " + quote(t.path()) + " " + quote(command) + " " +
        std::to_string(deadline_seconds) + " " + quote(closer));
    r.out = read_file(t / "out.txt");
    r.err = read_file(t / "err.txt");
    const std::string rc = read_file(t / "rc.txt");
    r.status = rc.empty() ? -1 : std::atoi(rc.c_str());
    r.titles = lines_of(read_file(t / "titles.txt"));
    return r;
}

// Every window is given a space key.
inline view_run run_in_view(const temp_folder& t, const std::string& binary,
                            const std::string& args, int deadline_seconds = 120) {
    return run_view_script(t, binary + " " + args, "", deadline_seconds);
}

// Every window is closed as the window manager's close button does.
inline view_run run_closing_in_view(const temp_folder& t, const std::string& binary,
                                    const std::string& args, int deadline_seconds = 120) {
    return run_view_script(t, binary + " " + args, ZARN_CLOSE_WINDOW, deadline_seconds);
}

// Every window is destroyed by another X client, without the window manager.
inline view_run run_destroying_in_view(const temp_folder& t, const std::string& binary,
                                       const std::string& args, int deadline_seconds = 120) {
    return run_view_script(t, binary + " " + args, "xdotool windowclose", deadline_seconds);
}

}  // namespace zarn_test

#endif
