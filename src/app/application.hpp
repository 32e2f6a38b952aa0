// The application object: the option block and the image set for the whole
// run, the command line, the per-file loop and the output stage.
#ifndef ZARN_APP_APPLICATION_HPP
#define ZARN_APP_APPLICATION_HPP

#include <set>
#include <string>
#include <vector>

#include <lumo/details/array_2d/array_2d>

#include "app/console.hpp"
#include "app/options.hpp"

namespace lumo::zarn {

class application {
public:
    using real = double;

    application() { opts.feature_pool = &images.features; }

    // Builds the application, runs it and returns the exit status: 1 when an
    // input or a folder of the search could not be opened, else 0.
    static int main(int argc, char** argv);
    void run(int argc, char** argv);

    // Command line.
    [[noreturn]] static void usage();
    [[noreturn]] static void error_exit(const std::string& message);
    bool parse_options(int argc, char** argv);
    void validate_options();
    // One message for each folder the search could not read; the run then
    // ends with status 1.
    void report_unreadable(const std::vector<std::string>& folders);

    // Preset and synthetic samples.
    void apply_hardcoded_options();
    void run_sample();
    bool draw_sample(const std::string& name);

    // Per-file loop and output stage.
    void process_files();
    void process_files(image_set<real>& set);
    void process_file(const std::string& name);
    void process_image(const std::string& name);
    [[noreturn]] void memory_exit(const std::string& name) const;
    // Before an image is computed: every output it will be written to can be
    // written; ends the run with the message of a failed write otherwise.
    void check_outputs();
    void process_single(const std::string& name);
    bool accept_file(const std::string& name) const;
    void output_results();
    std::string output_name(const std::string& suffix, const std::string& extension);
    std::string output_name(size_t index, const std::string& extension);
    void output_image(const lumo::image<unsigned char>& canvas, size_t index);
    void output_map(const lumo::array_2d<real>& map, size_t index);
    void output_distance(const lumo::array_2d<real>& map, const lumo::image<unsigned char>& canvas,
                         bool primal);
    // Records an output file of this run; a path recorded before gets one
    // warning on standard error.
    void note_output(const std::string& path);

    // Feature text and descriptors.
    void save_features();
    void save_feature_file(const std::string& path);
    // False when the file could not be written; nothing is then replaced.
    bool write_staged_feature_file(const std::string& path);
    void extract_descriptors(const std::string& features, const std::string& descriptors);
    [[noreturn]] void descriptor_failure(const std::string& features, const std::string& errors);
    void feature_geometry();

    image_set<real> images;
    options<real> opts;
    // An input of the batch, or a folder of the search, could not be opened:
    // the run ends with status 1.
    bool unopened_inputs = false;
    // Output paths written in this run, and those already warned about.
    std::set<std::string> written_outputs, repeated_outputs;
};

}  // namespace lumo::zarn

#endif
