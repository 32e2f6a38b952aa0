#include "app/application.hpp"

#include <iostream>

namespace lumo::zarn {

int application::main(int argc, char** argv) {
    line_tracking_buffer tracker(std::cout.rdbuf());
    std::cout.rdbuf(&tracker);
    {
        application app;
        app.console = &tracker;
        app.run(argc, argv);
    }
    std::cout.flush();
    std::cout.rdbuf(tracker.target());
    return 0;
}

void application::run(int argc, char** argv) {
    if (argc < 2) usage();
    if (parse_options(argc, argv))
        process_files(images);
    else
        run_sample();
}

}  // namespace lumo::zarn
