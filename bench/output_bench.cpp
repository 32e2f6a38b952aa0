// Times what writing outputs costs: one staged write (a private folder made,
// the file written in it and renamed into place, the folder removed) beside
// a plain write of the final name, the check that an output can be staged,
// a 512 x 512 picture saved through the bridge beside OpenCV's own imwrite,
// and whole runs of zarn -f and -de on a photograph, alone and two at once
// on one output folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include <lumo/details/file/staged_file.hpp>
#include <lumo/details/image/bridge.hpp>

#include "bench_support.hpp"

namespace {

constexpr int runs = 300;

std::string work_folder() {
    char name[] = "/tmp/zarn_output_bench_XXXXXX";
    if (!mkdtemp(name)) std::exit(1);
    return name;
}

void write_text(const std::string& path) { std::ofstream(path) << "0\n0\n"; }

lumo::image<unsigned char> picture(const cv::Mat& gray) {
    lumo::image<unsigned char> im(static_cast<size_t>(gray.rows), static_cast<size_t>(gray.cols), 3);
    const size_t plane = im.size(0) * im.size(1);
    for (int r = 0; r < gray.rows; ++r)
        for (int c = 0; c < gray.cols; ++c)
            for (size_t k = 0; k < 3; ++k)
                im[static_cast<size_t>(r) + im.size(0) * static_cast<size_t>(c) + plane * k] =
                    gray.at<unsigned char>(r, c);
    return im;
}

}  // namespace

int main() {
    const std::string dir = work_folder();
    const std::string text = dir + "/a_feat.txt";

    std::printf("%-44s %12s\n", "per output file", "us");
    const double staged = bench::best_ms(runs, [&] {
        lumo::staged_file f(text);
        write_text(f.temp_path());
        f.commit();
    });
    const double plain = bench::best_ms(runs, [&] { write_text(text); });
    const double probe = bench::best_ms(runs, [&] { lumo::can_stage(text); });
    std::printf("%-44s %12.1f\n", "staged text write (private folder, rename)", staged * 1000);
    std::printf("%-44s %12.1f\n", "plain text write of the final name", plain * 1000);
    std::printf("%-44s %12.1f\n", "check that an output can be staged", probe * 1000);

    const cv::Mat photo = bench::smooth_gray(512, 512, 7);
    const lumo::image<unsigned char> im = picture(photo);
    cv::Mat bgr;
    cv::cvtColor(photo, bgr, cv::COLOR_GRAY2BGR);
    const double bridge = bench::best_ms(30, [&] { lumo::save_image(im, dir + "/p_med.png"); });
    const double opencv = bench::best_ms(30, [&] { cv::imwrite(dir + "/q_med.png", bgr); });
    std::printf("%-44s %12.1f\n", "512x512 PNG through the bridge (staged)", bridge * 1000);
    std::printf("%-44s %12.1f   (%.2fx)\n", "512x512 PNG by cv::imwrite", opencv * 1000, bridge / opencv);

    const std::string zarn = ZARN_BINARY;
    const std::string bin = zarn.substr(0, zarn.rfind('/'));
    const std::string coins = (bench::data_dir() / "coins.png").string();
    const std::string cd = "cd " + bench::quoted(dir) + " && PATH=" + bench::quoted(bin) + ":/usr/bin:/bin ";
    const std::string z = bench::quoted(zarn);
    auto whole = [&](const std::string& args) {
        return bench::best_ms(5, [&] { bench::run_command(cd + z + " " + args + " > /dev/null"); });
    };
    std::printf("\n%-44s %12s\n", "whole process on coins.png", "ms");
    std::printf("%-44s %12.1f\n", "zarn -f", whole("-f " + bench::quoted(coins) + " out"));
    std::printf("%-44s %12.1f\n", "zarn -de", whole("-de " + bench::quoted(coins) + " out"));
    std::printf("%-44s %12.1f\n", "two zarn -de at once on one folder",
                whole("-de " + bench::quoted(coins) + " out & " + z + " -de " + bench::quoted(coins) +
                      " out; wait"));

    bench::run_command("rm -rf " + bench::quoted(dir));
    return 0;
}
