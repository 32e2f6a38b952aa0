// Running an external program directly, without a shell: its argument vector
// needs no quoting, and its own exit status (127 included) is never mistaken
// for the shell's "not found".
#ifndef ZARN_APP_PROGRAM_HPP
#define ZARN_APP_PROGRAM_HPP

#include <string>
#include <vector>

namespace lumo::zarn {

// A run of an external program.
struct program_outcome {
    bool success = false;  // it started and ended with status 0
    bool found = false;    // a file of its name was there to start
    std::string errors;    // its standard error, or why it could not start or be found
};

// Whether a file of that name (not a folder) lies in a folder of PATH, as
// execvp searches it: an empty entry is the current folder, and an unset
// PATH is the system's default one. A name holding '/' is no search.
bool on_search_path(const std::string& name);

// Runs arguments[0], searched on PATH, with the other arguments; its
// standard output is discarded and its standard error collected. It runs in
// a process group of its own, which a signal that ends the run ends too
// until the program is reaped. Returns when the program itself ends: what
// it left running in its process group is ended then, and a child that
// left the group is not waited for, even one that holds its standard error
// open. Only when no file of that name lies on PATH at all
// is the one of the current folder run instead ("./" in front); when there
// is none there either, errors says so in one line: "<name>: not found on
// PATH nor in the current folder".
program_outcome run_program_collecting_errors(const std::vector<std::string>& arguments);

}  // namespace lumo::zarn

#endif
