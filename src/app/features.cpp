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

namespace lumo::zarn {

namespace {

// Fills the staged feature file; false when it could not be written.
bool write_feature_file(const lumo::staged_file& file, feature_set<double>& features,
                        std::uint32_t format) {
    if (!file.ready()) return false;
    std::ofstream out(file.temp_path(), std::ios::out | std::ios::trunc);
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

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char ch : text) {
        if (ch == '\'')
            quoted += "'\\''";
        else
            quoted += ch;
    }
    return quoted + "'";
}

std::string descriptor_invocation(const std::string& image, const std::string& features,
                                  const std::string& descriptors) {
    return "qev -i " + shell_quote(image) + " -sift -p1 " + shell_quote(features) + " -o1 " +
           shell_quote(descriptors);
}

void application::feature_geometry() {
    feature_set<real>& features = images.features;
    for (size_t k = 0; k < features.count; ++k) ellipse_axes(features.records[k]);
}

// The feature file is written whole or not at all, staged in a private
// folder: with -de it is the descriptor program's input there, renamed into
// place only when -f keeps it (or when no program was found to read it).
void application::save_features() {
    const std::string path = output_name(output_suffixes[6], feature_extension);
    // With -de alone the feature file is only the executable's input.
    const bool kept = opts.commands.features || !opts.commands.descriptors;
    if (kept) note_output(path);
    lumo::staged_file features(path);
    if (!write_feature_file(features, images.features, opts.features.format))
        error_exit("Cannot open output file " + path + " !");
    if (!opts.commands.descriptors) {
        if (!features.commit()) error_exit("Cannot open output file " + path + " !");
        return;
    }

    timeval start;
    gettimeofday(&start, nullptr);
    const std::string descriptors = output_name(output_suffixes[7], feature_extension);
    note_output(descriptors);
    extract_descriptors(features, descriptors);
    if (kept) {
        if (!features.commit()) error_exit("Cannot open output file " + path + " !");
    } else if (!features.discard()) {
        error_exit("Cannot delete intermediate file " + path + " !");
    }
    timeval stop;
    gettimeofday(&stop, nullptr);
    const double t = elapsed_ms(start, stop);
    if (opts.program.timing)
        std::cout << std::endl << "[ Descriptor extraction" << ": " << t << " ms" << " ]" << std::endl << std::endl;
    else
        std::cout << "  [descriptors" << ": " << t << " ms" << "]" << std::endl;
}

// The program reads the staged feature file and writes its output and any
// side file (its parameters) in a private folder of its own; the output is
// renamed over the descriptor file once the program has succeeded. When it
// runs and fails, its own error output is shown and the feature file goes
// unless -f keeps it; when it cannot be found at all, the feature file is
// kept for a later run by hand.
void application::extract_descriptors(lumo::staged_file& features, const std::string& descriptors) {
    const bool keep_features = opts.commands.features;
    lumo::staged_file output(descriptors);
    if (!output.ready()) {
        if (keep_features) features.commit();
        error_exit("Cannot open output file " + descriptors + " !");
    }
    const std::string image = opts.files.input_folder + opts.program.file_name;
    const command_outcome run = run_command_collecting_errors(
        descriptor_invocation(image, features.temp_path(), output.temp_path()));
    if (!run.success) {
        output.discard();
        std::cerr << run.errors << std::flush;
        if (keep_features || !run.found) features.commit();
        std::cout << std::endl;
        error_exit("Cannot run the descriptor extraction executable qev/qev.exe !");
    }
    if (!output.commit()) {
        if (keep_features) features.commit();
        error_exit("Cannot open output file " + descriptors + " !");
    }
}

}  // namespace lumo::zarn
