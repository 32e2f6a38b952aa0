// The feature text file of the current image and, with -de, the run of the
// descriptor extraction executable on it.
#include "app/features.hpp"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>

#include <lumo/details/file/staged_file.hpp>

#include "app/application.hpp"
#include "pipeline/stage_timer.hpp"
#include "app/files.hpp"
#include "app/program.hpp"

namespace lumo::zarn {

namespace {

// Fills the file at path (new, or made empty, inside a private folder);
// false when it could not be written.
bool write_feature_file(const std::string& path, feature_set<double>& features, std::uint32_t format) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) return false;
    if (format == 0)
        write_features_axes(out, features);
    else if (format == 1)
        write_features_covariance(out, features);
    else
        write_features_inverse_covariance(out, features);
    out.flush();
    const bool written = static_cast<bool>(out);
    out.close();
    return written && out;
}

}  // namespace

template <typename T>
void write_features_axes(std::ostream& out, feature_set<T>& features) {
    for (size_t k = 0; k < features.count; ++k) {
        feature_type<T>& f = features.records[k];
        ellipse_axes(f);
        out << f.x << " " << f.y << " " << f.major << " " << f.minor << " " << f.angle << "\n";
    }
}

template <typename T>
void write_features_covariance(std::ostream& out, feature_set<T>& features) {
    for (size_t k = 0; k < features.count; ++k) {
        const feature_type<T>& f = features.records[k];
        out << f.x << " " << f.y << " " << f.a << " " << f.b << " " << f.c << "\n";
    }
}

template <typename T>
void write_features_inverse_covariance(std::ostream& out, feature_set<T>& features) {
    out << "0" << "\n" << features.count << "\n";
    for (size_t k = 0; k < features.count; ++k) {
        feature_type<T>& f = features.records[k];
        const T d = f.determinant;
        f.inv_a = f.c / d;
        f.inv_b = -f.b / d;
        f.inv_c = f.a / d;
        out << f.x << " " << f.y << " " << f.inv_a << " " << f.inv_b << " " << f.inv_c << "\n";
    }
}

template void write_features_axes(std::ostream&, feature_set<double>&);
template void write_features_covariance(std::ostream&, feature_set<double>&);
template void write_features_inverse_covariance(std::ostream&, feature_set<double>&);

std::vector<std::string> descriptor_arguments(const std::string& image, const std::string& features,
                                              const std::string& descriptors) {
    return {"qev", "-i", image, "-sift", "-p1", features, "-o1", descriptors};
}

void application::feature_geometry() {
    feature_set<real>& features = images.features;
    for (size_t k = 0; k < features.count; ++k) ellipse_axes(features.records[k]);
}

// The feature file is written whole or not at all, before the descriptor
// program runs. With -de alone it is only that program's input, which
// appears in the output folder only when the program fails.
void application::save_features() {
    const std::string path = output_name(output_suffixes[6], feature_extension);
    if (opts.commands.features || !opts.commands.descriptors) {
        note_output(path);
        save_feature_file(path);
    }
    if (!opts.commands.descriptors) return;

    timeval start;
    gettimeofday(&start, nullptr);
    const std::string descriptors = output_name(output_suffixes[7], feature_extension);
    note_output(descriptors);
    extract_descriptors(path, descriptors);
    timeval stop;
    gettimeofday(&stop, nullptr);
    const double t = elapsed_ms(start, stop);
    if (opts.program.timing)
        std::cout << std::endl << "[ Descriptor extraction" << ": " << t << " ms" << " ]" << std::endl << std::endl;
    else
        std::cout << "  [descriptors" << ": " << t << " ms" << "]" << std::endl;
}

void application::save_feature_file(const std::string& path) {
    if (!write_staged_feature_file(path)) error_exit("Cannot open output file " + path + " !");
}

bool application::write_staged_feature_file(const std::string& path) {
    lumo::staged_file file(path);
    return file.ready() && write_feature_file(file.temp_path(), images.features, opts.features.format) &&
           file.commit();
}

// The program reads its own copy of the feature file and writes its output
// and any side file (its parameters) in the private folder where the
// descriptor file is staged; the output is renamed over the descriptor file
// once the program has succeeded. The program makes that output itself, so
// that one which ends well without writing it is seen to have failed.
void application::extract_descriptors(const std::string& features, const std::string& descriptors) {
    lumo::staged_file output(descriptors);
    if (!output.ready() || !output.vacate()) error_exit("Cannot open output file " + descriptors + " !");
    const std::string input = output.folder_path() + "features.txt";
    if (!write_feature_file(input, images.features, opts.features.format))
        error_exit("Cannot open output file " + features + " !");
    const std::string image = opts.files.input_folder + opts.program.file_name;
    const program_outcome run = run_program_collecting_errors(descriptor_arguments(image, input, output.temp_path()));
    if (!run.success || !output.written()) {
        output.discard();
        descriptor_failure(features, run.errors);
    }
    if (!output.commit()) error_exit("Cannot open output file " + descriptors + " !");
}

// The program's own error output is shown, and the feature file it was given
// stays in the output folder, so that it can be run again by hand.
void application::descriptor_failure(const std::string& features, const std::string& errors) {
    std::cerr << errors << std::flush;
    const bool kept = opts.commands.features || write_staged_feature_file(features);
    std::cout << std::endl;
    if (!kept) std::cout << "Cannot open output file " << features << " !" << std::endl;
    error_exit("Cannot run the descriptor extraction executable qev/qev.exe !");
}

}  // namespace lumo::zarn
