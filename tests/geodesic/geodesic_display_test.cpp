// The traces and paths views, pixel by pixel, without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geodesic/geodesic_support.hpp"

namespace {

using namespace geo_test;

// The view as letters, one string per image row: K black, G dark gray,
// R red, Y yellow, W white, ? anything else.
std::vector<std::string> letters(const lumo::image<unsigned char>& im) {
    const size_t rows = im.size(0), cols = im.size(1), n = rows * cols;
    std::vector<std::string> out(rows, std::string(cols, '?'));
    for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < cols; ++c) {
            const size_t i = r + rows * c;
            const int b0 = im[i], b1 = im[i + n], b2 = im[i + 2 * n];
            char ch = '?';
            if (b0 == 0 && b1 == 0 && b2 == 0) ch = 'K';
            if (b0 == 64 && b1 == 64 && b2 == 64) ch = 'G';
            if (b0 == 255 && b1 == 0 && b2 == 0) ch = 'R';
            if (b0 == 255 && b1 == 255 && b2 == 0) ch = 'Y';
            if (b0 == 255 && b1 == 255 && b2 == 255) ch = 'W';
            out[r][c] = ch;
        }
    return out;
}

std::vector<std::string> traces_of(picture_grid& g) {
    lumo::image<unsigned char> im;
    z::render_traces(g.nodes, g.store, im);
    EXPECT_EQ(im.size(2), 3u);
    return letters(im);
}

std::vector<std::string> paths_of(picture_grid& g) {
    lumo::image<unsigned char> im;
    z::render_paths(g.nodes, g.store, im);
    return letters(im);
}

using picture = std::vector<std::string>;

TEST(GeodesicView, TracesShowReachedTracedMeetingAndBoundaryNodes) {
    hand_lanes h;
    h.connect();
    EXPECT_EQ(traces_of(h.g), (picture{"KKKKK",
                                       "KWWWK",
                                       "KRRRK",
                                       "KRYYK",
                                       "KRRGK",
                                       "KYYGK",
                                       "KKKKK"}));
}

// A meeting node that is a boundary node stays white.
TEST(GeodesicView, TracesBoundaryWinsOverMeeting) {
    picture_grid g({"#####", "#BbA#", "#####"});
    g.completed();
    EXPECT_EQ(traces_of(g), (picture{"KKKKK", "KWYWK", "KKKKK"}));
}

TEST(GeodesicView, PathsShowKeptChainsMeetingStretchesAndAddedVertices) {
    hand_lanes h;
    h.connect();
    EXPECT_EQ(paths_of(h.g), (picture{"KKKKK",
                                      "KWWWK",
                                      "KRRRK",
                                      "KRYRK",
                                      "KRRKK",
                                      "KRRKK",
                                      "KKKKK"}));
}

// What pruning leaves decides: a removed connecting edge hides its meeting
// stretch, a removed chain edge its chain, an added vertex without edges is
// not drawn, one passing a path through (degree 2) is red.
TEST(GeodesicView, PathsFollowWhatPruningLeft) {
    hand_lanes h;
    h.connect();
    picture_grid& g = h.g;
    vertex* junction = g.vertex_at(3, 2);
    h.p2->connecting->removed = 1;
    junction->degree = 2;
    EXPECT_EQ(paths_of(g), (picture{"KKKKK",
                                    "KWWWK",
                                    "KRRKK",
                                    "KRRKK",
                                    "KRRKK",
                                    "KRRKK",
                                    "KKKKK"}));
    g.store.edges[0].removed = 1;  // the chain from the junction up to A
    junction->degree = 0;
    EXPECT_EQ(paths_of(g), (picture{"KKKKK",
                                    "KWWWK",
                                    "KRKKK",
                                    "KRKKK",
                                    "KRRKK",
                                    "KRRKK",
                                    "KKKKK"}));
}

}  // namespace
