// The per-file loop, the earlier-output filter and output naming.
#include <sys/time.h>
#include <unistd.h>

#include <initializer_list>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <lumo/details/file/staged_file.hpp>

#include <lumo/details/image/bridge.hpp>

#include "app/application.hpp"
#include "pipeline/stage_timer.hpp"
#include "app/files.hpp"
#include "pipeline/run.hpp"

namespace lumo::zarn {

namespace {

lumo::array<std::string> make_table(std::initializer_list<const char*> names) {
    lumo::array<std::string> t(names.size());
    size_t i = 0;
    for (const char* n : names) t[i++] = n;
    return t;
}

// The base name of outputs when no file name is set (synthetic samples).
const std::string sample_base = "zarn.png";
// Outputs of an input without an extension take this one.
const std::string default_extension = ".png";

// The name without the extension of its last path component.
std::string stem_of(const std::string& name) {
    const std::string::size_type dot = extension_position(name);
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The run may open a window: view mode, or a display option together with a
// command whose stages show it. The geodesic displays need weighted mode
// and a length limit that is not 0; the gradient view needs weighted mode.
template <typename T>
bool shows_windows(const options<T>& o) {
    if (o.program.view) return true;
    const command_options& c = o.commands;
    if (!c.any_command()) return false;
    const bool weighted = o.program.weighted;
    const bool geodesic = weighted && o.distance.max_length > 0 && o.distance.length_factor > 0;
    const grassfire_options<T>& g = o.grassfire;
    const bool distance_windows = g.distance_step != 0 || (weighted && o.distance.view_gradient);
    const bool geodesic_windows =
        geodesic && (g.geodesic_step != 0 || o.distance.view_traces || o.distance.view_paths);
    const bool medial_windows = g.medial_step != 0 || geodesic_windows;
    const bool partition_windows = o.partition.interactive || o.partition.show_cuts || g.descent_step != 0;
    return distance_windows || (c.beyond_distance() && medial_windows) ||
           (c.partition_like() && partition_windows);
}

}  // namespace

const lumo::array<std::string> output_suffixes =
    make_table({"dist", "med", "udist", "umed", "uboth", "part", "feat", "desc"});
const lumo::array<std::string> window_titles =
    make_table({"distance", "medial", "dual distance", "dual medial", "primal & dual medial",
                "partition", "features", "descriptors"});
const std::string feature_extension = ".txt";

void application::process_files() { process_files(images); }

void application::process_files(image_set<real>& set) {
    // Without a display a run that shows windows would only fail at its
    // first window, after all the computation of the first image.
    if (shows_windows(opts)) lumo::require_display();
    // A sample drawn into the input slot is processed once, without a name.
    if (!set.input.empty()) {
        process_file("");
        return;
    }
    const size_t n = opts.files.files.size();
    for (size_t i = 0; i < n; ++i) process_file(opts.files.files[i]);
}

void application::process_single(const std::string& name) {
    opts.files.files.assign(1, name);
    process_files(images);
}

// An image too large for memory ends the run with a message naming it;
// unwinding has freed what its processing held and removed any output
// being written for it.
void application::process_file(const std::string& name) {
    try {
        process_image(name);
    } catch (const std::bad_alloc&) {
        memory_exit(name);
    }
}

void application::memory_exit(const std::string& name) const {
    finish_line();
    const std::string what = name.empty() ? "the sample image" : opts.files.input_folder + name;
    error_exit("Not enough memory to process " + what + " !");
}

void application::process_image(const std::string& name) {
    const bool timing = opts.program.timing;
    opts.program.file_name = name;
    if (!name.empty()) {
        if (timing) std::cout << std::endl << "-> ";
        std::cout << name << ": ";
        if (!opts.files.repeat && !accept_file(name)) {
            std::cout << "ignored" << std::endl;
            return;
        }
        if (!lumo::load_image(images.input, opts.files.input_folder + name)) {
            std::cout << "cannot open file!" << std::endl;
            unopened_inputs = true;
            return;
        }
    }
    check_outputs();
    if (timing && !name.empty()) std::cout << std::endl;

    timeval start{};
    if (timing)
        std::cout << std::endl;
    else
        gettimeofday(&start, nullptr);

    if (opts.program.debug)
        run_image_pipeline<true, real>(images, opts);
    else
        run_image_pipeline<false, real>(images, opts);

    if (!timing) {
        timeval stop{};
        gettimeofday(&stop, nullptr);
        std::cout << "done in " << elapsed_ms(start, stop) << " ms";
        // In disk mode the descriptor time finishes the line.
        if (opts.program.view || !opts.commands.descriptors) std::cout << std::endl;
    }
    output_results();
}

namespace {

// An output of one image: its suffix, its extension ("" for the input's
// format) and whether an image writer makes it.
struct planned_output {
    size_t index;
    const std::string& extension;
    bool picture;
};

// What the output stage writes in disk mode for these commands, pictures
// and maps under the input's format, feature and descriptor text under
// ".txt". The feature text of -de alone is only the descriptor program's
// input and never written in the output folder.
template <typename T>
std::vector<planned_output> planned_outputs(const options<T>& o) {
    static const std::string same_format;
    const command_options& c = o.commands;
    std::vector<planned_output> out;
    if (c.distance) out.push_back({0, same_format, true});
    if (c.medial) out.push_back({1, same_format, true});
    if (c.features_wanted()) {
        if (c.features || !c.descriptors) out.push_back({6, feature_extension, false});
        if (c.descriptors) out.push_back({7, feature_extension, false});
        if (c.features && o.features.feature_image) out.push_back({6, same_format, true});
    } else if (c.partition) {
        out.push_back({5, same_format, true});
    } else {
        if (c.dual_distance) out.push_back({2, same_format, true});
        if (c.dual_medial) out.push_back({3, same_format, true});
        if (c.both_medial) out.push_back({4, same_format, true});
    }
    return out;
}

// Whether the folder of the path takes a name as long as the path's own
// (staged files have short names: only the final rename would fail).
bool name_fits(const std::string& path) {
    std::string folder, name;
    split_path(path, folder, name);
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return longest < 0 || name.size() <= static_cast<size_t>(longest);
}

}  // namespace

// Making the folder of each output ends the run as the output stage would;
// a format without a writer, a name too long for its folder, or a folder or
// file that takes no staged write, is refused with the message of a failed
// write.
void application::check_outputs() {
    if (opts.program.view) return;
    for (const planned_output& o : planned_outputs(opts)) {
        const std::string path = output_name(o.index, o.extension);
        if ((o.picture && !lumo::has_image_writer(path)) || !name_fits(path) || !lumo::can_stage(path))
            error_exit("Cannot open output file " + path + " !");
    }
}

bool application::accept_file(const std::string& name) const {
    if (name.empty()) return false;
    const std::string stem = stem_of(name);
    for (size_t i = 0; i < output_suffixes.length(); ++i)
        if (ends_with(stem, output_suffixes[i])) return false;
    return true;
}

std::string application::output_name(const std::string& suffix, const std::string& extension) {
    const std::string& name = opts.program.file_name;
    const std::string& base = name.empty() ? sample_base : name;
    // The extension is searched in the last component: "photos.v2/cat" has none.
    const std::string::size_type dot = extension_position(base);
    const std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    std::string ext = extension;
    if (ext.empty()) ext = dot == std::string::npos ? default_extension : base.substr(dot);

    const std::string path = opts.files.output_folder + stem + "_" + suffix + ext;
    std::string folder;
    if (!make_dir_recursive(path, folder)) {
        strip_trailing_slashes(folder);
        error_exit("Could not create directory " + folder + " !");
    }
    return path;
}

void application::note_output(const std::string& path) {
    if (written_outputs.insert(path).second || !repeated_outputs.insert(path).second) return;
    std::cerr << "Warning: output file " << path << " is written more than once!" << std::endl;
}

std::string application::output_name(size_t index, const std::string& extension) {
    return output_name(output_suffixes[index], extension);
}

}  // namespace lumo::zarn
