#include "app/application.hpp"

int main(int argc, char** argv) { return lumo::zarn::application::main(argc, argv); }
