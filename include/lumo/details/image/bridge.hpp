// The image bridge: loading, saving and showing library images through
// OpenCV, conversions to gray bytes, and window titles. OpenCV itself stays
// inside the bridge's implementation.
#ifndef LUMO_DETAILS_IMAGE_BRIDGE_HPP
#define LUMO_DETAILS_IMAGE_BRIDGE_HPP

#include <string>

#include <lumo/details/array_2d/array_2d>

namespace lumo {

// Loads a file with its own channels and depth as bytes; throws lumo::ecomp
// when it cannot be loaded or converted.
void load_ipl(image<unsigned char>& out, const std::string& path, unsigned int mode);

// Loads a file as a gray byte array (colour: mean of the channels); false
// when it cannot be loaded, the output then untouched.
bool load_image(array_2d<unsigned char>& out, const std::string& path);

image<unsigned char> grayscale(const image<unsigned char>& in);
void image_to_array(const image<unsigned char>& in, array_2d<unsigned char>& out);
void map_to_gray(const array_2d<double>& map, array_2d<unsigned char>& out);
void map_to_gray(const array_2d<float>& map, array_2d<unsigned char>& out);
void gray_to_rgb(const array_2d<unsigned char>& gray, image<unsigned char>& out);

// Ends the process with a message on standard output and status 1 when no
// display can be opened; checked once per process.
void require_display();

// Windows wait for any key and close before the call returns.
void show_image(const image<unsigned char>& im, const char* title);
void show_image(const image<float>& im, const char* title);
void show_image(const image<double>& im, const char* title);
void show_image_titled(const image<unsigned char>& im, const std::string& name,
                       const std::string& title);
void show_array(const array_2d<unsigned char>& a, const std::string& title);
void bool_to_image(const array_2d<bool>& a, const std::string& title);

// False when the file could not be written; an older file of that name
// then stays as it was. A format that holds only colour (.ppm) or only gray
// (.pgm, .pbm) gets the image in the channels it holds.
bool save_image(const image<unsigned char>& im, const std::string& path);
bool save_image(const image<float>& im, const std::string& path);
bool save_image(const image<double>& im, const std::string& path);

// Whether an image writer takes the path's format (by its extension).
bool has_image_writer(const std::string& path);

// "name [title] -- zarn", leaving out the empty parts.
std::string window_title(const std::string& name, const std::string& title);

}  // namespace lumo

#endif
