#include "app/application.hpp"

namespace lumo::zarn {

int application::main(int argc, char** argv) {
    application app;
    app.run(argc, argv);
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
