// The command line: usage text, the argument loop and validation.
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.hpp"
#include "app/files.hpp"

namespace lumo::zarn {

namespace {

const char* const usage_lines[] = {
    "",
    "Zarn v0.6",
    "Copyright (c) the zarn developers",
    "",
    "Syntax:",
    "",
    "  zarn <command(s)> <filename(s)> [<output folder>] [options]",
    "",
    "Commands:",
    "",
    "  -d           compute distance transform",
    "  -m           compute medial axis",
    "  -p           compute image partition",
    "  -f           compute image features",
    "  -de          compute image features and extract sift descriptors using",
    "               the Tarvo executable; forces feature format -fmm",
    "  -u           compute primal and dual medial axis, output both",
    "  -ud          compute dual distance transform",
    "  -um          compute dual medial axis",
    "",
    "Progam options:",
    "",
    "  -w           weighted mode [default] -- input is taken as grayscale and",
    "               distance transform is weighted by input gradient or intensity",
    "               (with -ng)",
    "  -b           binary mode -- input is taken as binary and distance transform",
    "               is zero at boundaries and interior of foreground image regions",
    "  -v           view mode: display results on screen instead of saving to disk",
    "  -o           overlay input image on distance transform and medial axis images",
    "  -od          overlay distance transform on medial axis images",
    "  -og          overlay input image gradient on medial axis images; assumes -w",
    "  -t           time individual computation stages",
    "  -vs          display statistics; assumes -t",
    "  -ma          static memory allocation factor [>=1, <=10, default: 1.0]",
    "  -db          allow debug error messages",
    "",
    "File options:",
    "",
    "  -r           recurse directories",
    "  -rp          allow repetitive processing of previous output files",
    "               [default: files ignored]",
    "  -ho          run with hard-coded options (other options ignored)",
    "  -hs          run hard-coded experimental sample with hard-coded",
    "               options (other options ignored)",
    "  -sa <idx>    run hard-coded input sample <idx> [1,..,6] with remaining",
    "               user-specified options",
    "",
    "Distance transform options -- weighted mode only:",
    "",
    "  -hf <fact>   height factor [>=0, default: 4]",
    "  -ds <scale>  gradient derivation scale [>=0, <=1, default: .5]",
    "  -ng          do not compute image gradient",
    "  -lf <len>    max length factor: maximum length in geodesic distance,",
    "               relative to max input image dimension [>=0, <=1, default: .1]",
    "  -la <len>    maximum absolute length in geodesic distance, in pixels",
    "               [>=0, <=1000, default: 50]",
    "  -vg          display normalized image gradient",
    "  -vt          display geodesic distance traces",
    "  -vp          display geodesic distance paths",
    "",
    "Distance transform options -- weighted or binary mode:",
    "",
    "  -i  <mod>    display distance isocontours, that is, distance transform",
    "               modulo <mod> [default: 0]; also applies to -a and -re",
    "",
    "Medial axis options:",
    "",
    "  -s  <scale>  specify the scale of the medial axis. >= 2 to avoid",
    "               discretization effects; larger for coarser scale.",
    "               [default: 2]",
    "  -su <scale>  specify the scale of the dual medial axis [default: 2]",
    "  -sd <scale>  specify the distance scale, that is the minimum",
    "               distance allowed on the medial axis [default: 0]",
    "  -m2          mark medial axis with twin marker; forced in dual mode",
    "               (-p -f -de -u -ud -um)",
    "  -mb          mark medial axis with binary marker",
    "  -mg          mark medial axis with grayscale marker; only with -b",
    "  -mt          perform thinning on medial axis; assumes -b",
    "  -a           multiply medial by distance to get the medial axis transform",
    "  -re          multiply medial by residue",
    "",
    "Partition options:",
    "",
    "  -cs          component creation mode: sorting; also applies to -f",
    "  -cm          component creation mode: fast marching [default]; also applies",
    "               to -f",
    "  -pc  <comp>  specify the minimum number of components in partition",
    "               [default: all]",
    "  -pd  <dist>  specify the minimum link distance [>= 0, default: infty]",
    "  -pb          partition style: boundaries [default]",
    "  -pi          partition style: colored component interiors",
    "  -p2          partition style: both boundaries and colored interiors",
    "  -pm          show underlying medial axis; also applies to -f",
    "  -pa          minimum margin (pixels) required to partition a region at",
    "               image boundaries [>=0, ignore: 0, default: 50 in weighted",
    "               mode / 2 in binary mode]; also applies to -f",
    "  -dl          disable link expansion in weighted mode; also applies to -f",
    "  -vc          display medial axis cuts; also applies to -f",
    "  -vi          interactive mode: display merging steps; also applies to -f",
    "",
    "Feature options:",
    "",
    "  -ff  <frag>  feature fragmentation factor [>=0, default: .6]",
    "  -fg  <grow>  feature growth factor [>=0, default: .1]",
    "  -z   <zoom>  feature zoom factor [>=0, default: 1]; multiplied by 3 when -de",
    "               is given",
    "  -fmp         feature output format: position + axes (x/y scales &",
    "               orientation) [default]",
    "  -fma         feature output format: position + covariance matrix [a b; b c]",
    "  -fmm         feature output format: position + inverse covariance matrix",
    "               (Tarvo)",
    "  -fn          affine normalized fragmentation factor",
    "  -fl          flat fragmentation factor; ignored when -fn is given",
    "  -fi          save feature image in disk mode [default: only text",
    "               in disk mode, only image in view mode]",
    "  -fp          show underlying fine partition",
    "  -fc          show underlying feature cover",
    "",
    "Grassfire simulation options:",
    "",
    "  -sf <step>   simulate grassfire with a step of <step> pixels; global option",
    "               equivalent to -df, -gf, -mf, -pf [>=0, default: 0]",
    "  -df <step>   simulate distance grassfire with a step of <step> pixels",
    "               [>=0, default: 0]",
    "  -gf <step>   simulate geodesic grassfire with a step of <step> pixels",
    "               measuring length from origin [>=0, default: 0]",
    "  -mf <step>   simulate medial creation grassfire with a step of <step>",
    "               pixels [>=0, default: 0]",
    "  -pf <step>   simulate medial descent grassfire with a step of <step>",
    "               pixels [>=0, default: 0]; also applies to -f",
    "",
};

static_assert(sizeof(usage_lines) / sizeof(usage_lines[0]) == 131);

using real = application::real;

// Sets the field of a flag; false when the argument names no flag.
bool apply_flag(options<real>& o, const std::string& a) {
    command_options& c = o.commands;
    program_options<real>& p = o.program;
    file_options& f = o.files;
    distance_options<real>& d = o.distance;
    medial_options<real>& m = o.medial;
    partition_options<real>& pa = o.partition;
    feature_options<real>& fe = o.features;

    if (a == "-d") c.distance = true;
    else if (a == "-m") c.medial = true;
    else if (a == "-p") c.partition = true;
    else if (a == "-f") c.features = true;
    else if (a == "-de") c.descriptors = true;
    else if (a == "-u") c.both_medial = true;
    else if (a == "-ud") c.dual_distance = true;
    else if (a == "-um") c.dual_medial = true;
    else if (a == "-w") p.weighted = true;
    else if (a == "-b") p.weighted = false;
    else if (a == "-v") p.view = true;
    else if (a == "-o") p.overlay = 1;
    else if (a == "-od") p.overlay = 2;
    else if (a == "-og") p.overlay = 3;
    else if (a == "-t") p.timing = true;
    else if (a == "-vs") p.statistics = true;
    else if (a == "-db") p.debug = true;
    else if (a == "-r") f.recurse = true;
    else if (a == "-rp") f.repeat = true;
    else if (a == "-ho") f.hardcoded_options = true;
    else if (a == "-hs") f.hardcoded_sample = true;
    else if (a == "-ng") d.gradient = false;
    else if (a == "-vg") d.view_gradient = true;
    else if (a == "-vt") d.view_traces = true;
    else if (a == "-vp") d.view_paths = true;
    else if (a == "-m2") m.marker = 0;
    else if (a == "-mb") m.marker = 1;
    else if (a == "-mg") m.marker = 2;
    else if (a == "-mt") m.thinning = true;
    else if (a == "-a") m.times_distance = true;
    else if (a == "-re") m.times_residue = true;
    else if (a == "-cm") pa.fast_marching = true;
    else if (a == "-cs") pa.fast_marching = false;
    else if (a == "-pb") pa.style = 0;
    else if (a == "-pi") pa.style = 1;
    else if (a == "-p2") pa.style = 2;
    else if (a == "-pm") pa.show_medial = true;
    else if (a == "-dl") pa.link_expansion = false;
    else if (a == "-vc") pa.show_cuts = true;
    else if (a == "-vi") pa.interactive = true;
    else if (a == "-fmp") fe.format = 0;
    else if (a == "-fma") fe.format = 1;
    else if (a == "-fmm") fe.format = 2;
    else if (a == "-fn") fe.affine_normalized = true;
    else if (a == "-fl") fe.flat = true;
    else if (a == "-fi") fe.feature_image = true;
    else if (a == "-fp") fe.show_fine_partition = true;
    else if (a == "-fc") fe.show_cover = true;
    else return false;
    return true;
}

// The pending state that an option with an argument opens; 0 for none.
int pending_state(const std::string& a) {
    static const struct {
        const char* name;
        int state;
    } table[] = {{"-ma", 1},  {"-sa", 2},  {"-hf", 5},  {"-ds", 3},  {"-lf", 6},  {"-la", 7},
                 {"-i", 11},  {"-s", 8},   {"-su", 9},  {"-sd", 10}, {"-pc", 17}, {"-pd", 18},
                 {"-pa", 19}, {"-ff", 20}, {"-fg", 21}, {"-z", 22},  {"-sf", 12}, {"-df", 13},
                 {"-gf", 14}, {"-mf", 15}, {"-pf", 16}};
    for (const auto& e : table)
        if (a == e.name) return e.state;
    return 0;
}

// Formatted extraction of the field's own type; a value that does not parse
// is not reported.
template <typename F>
void extract(const std::string& arg, F& field) {
    std::istringstream in(arg);
    in >> field;
}

void read_pending(options<real>& o, int state, const std::string& arg) {
    switch (state) {
        case 1: extract(arg, o.program.memory_factor); break;
        case 2: extract(arg, o.files.sample); break;
        case 3: extract(arg, o.distance.derivation_scale); break;
        case 5: extract(arg, o.distance.height_factor); break;
        case 6: extract(arg, o.distance.length_factor); break;
        case 7: extract(arg, o.distance.max_length); break;
        case 8: extract(arg, o.medial.scale); break;
        case 9: extract(arg, o.medial.dual_scale); break;
        case 10: extract(arg, o.medial.distance_scale); break;
        case 11: extract(arg, o.distance.isocontour); break;
        case 12: extract(arg, o.grassfire.step); break;
        case 13: extract(arg, o.grassfire.distance_step); break;
        case 14: extract(arg, o.grassfire.geodesic_step); break;
        case 15: extract(arg, o.grassfire.medial_step); break;
        case 16: extract(arg, o.grassfire.descent_step); break;
        case 17: extract(arg, o.partition.min_components); break;
        case 18: extract(arg, o.partition.min_link_distance); break;
        case 19: extract(arg, o.partition.margin); break;
        case 20: extract(arg, o.features.fragmentation); break;
        case 21: extract(arg, o.features.growth); break;
        case 22: extract(arg, o.features.zoom); break;
        default: break;
    }
}

// The plain arguments other than option values: the pattern, and those
// after it, the last of which is the output folder.
struct plain_arguments {
    std::string pattern;
    std::vector<std::string> others;
};

// A sample is drawn and shown: a sample run uses no plain argument. A file
// run uses the pattern and the output folder; those between are dropped.
std::vector<std::string> unused_arguments(const plain_arguments& plain, bool sample) {
    std::vector<std::string> unused;
    if (sample && !plain.pattern.empty()) unused.push_back(plain.pattern);
    unused.insert(unused.end(), plain.others.begin(), plain.others.end());
    if (!sample && !unused.empty()) unused.pop_back();  // the output folder
    return unused;
}

// One line on standard error for each argument that the run does not use.
void warn_unused(const plain_arguments& plain, bool sample) {
    const char* const reason = sample ? "a sample run takes no input name or output folder"
                                      : "one input name or pattern and one output folder are taken";
    for (const std::string& arg : unused_arguments(plain, sample))
        std::cerr << "Warning: argument " << arg << " is ignored: " << reason << "!" << std::endl;
}

}  // namespace

void application::usage() {
    std::cout << usage_lines[0] << std::endl;
    for (size_t i = 1; i < sizeof(usage_lines) / sizeof(usage_lines[0]); ++i)
        std::cout << usage_lines[i] << '\n';
    std::cout.flush();
    std::exit(0);
}

void application::error_exit(const std::string& message) {
    finish_line();
    std::cout << message << std::endl;
    std::exit(1);
}

void application::validate_options() { opts.validate(); }

// The folders that the search could not read, one line each, before any
// line of the files: the run then ends with status 1, as one with an input
// that cannot be opened.
void application::report_unreadable(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders)
        std::cout << "Cannot read directory " << folder << " !" << std::endl;
    if (!folders.empty()) unopened_inputs = true;
}

bool application::parse_options(int argc, char** argv) {
    int pending = 0;
    plain_arguments plain;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (apply_flag(opts, arg)) continue;
        if (const int state = pending_state(arg)) {
            pending = state;
            continue;
        }
        // A plain argument: a pending value, the pattern, or the output folder.
        if (pending != 0) {
            read_pending(opts, pending, arg);
            pending = 0;
        } else if (plain.pattern.empty()) {
            plain.pattern = arg;
        } else {
            opts.files.output_folder = arg;
            plain.others.push_back(arg);
        }
    }

    const bool sample = opts.files.hardcoded_sample || opts.files.sample_given();
    warn_unused(plain, sample);
    if (sample) return false;
    if (opts.files.hardcoded_options) apply_hardcoded_options();
    const std::string& pattern = plain.pattern;
    std::vector<std::string> unreadable;
    expand_file_pattern(pattern, opts.files.input_folder, opts.files.files, opts.files.recurse,
                        unreadable);
    validate_options();

    if (!opts.commands.any_command()) error_exit("At least one command is expected!");
    if (pattern.empty()) error_exit("At least one input filename is expected!");
    report_unreadable(unreadable);
    if (!opts.files.files.empty()) return true;
    if (has_wildcard(pattern)) error_exit("No file found matching " + pattern + " !");
    error_exit(pattern + " not found!");
}

}  // namespace lumo::zarn
