#include "app/application.hpp"

#include <iostream>

#include "app/interrupts.hpp"

namespace lumo::zarn {

int application::main(int argc, char** argv) {
    clean_up_on_ending_signals();
    line_tracking_buffer tracker(std::cout.rdbuf());
    std::cout.rdbuf(&tracker);
    bool unopened = false;
    {
        application app;
        app.run(argc, argv);
        unopened = app.unopened_inputs;
    }
    std::cout.flush();
    std::cout.rdbuf(tracker.target());
    return unopened ? 1 : 0;
}

void application::run(int argc, char** argv) {
    if (argc < 2) usage();
    if (parse_options(argc, argv))
        process_files(images);
    else
        run_sample();
}

}  // namespace lumo::zarn
