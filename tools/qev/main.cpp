// qev: descriptor extraction for the ellipse files that zarn -de writes.
#include <iostream>

#include "qev.hpp"

int main(int argc, char** argv) { return qev::run(argc, argv, std::cerr); }
