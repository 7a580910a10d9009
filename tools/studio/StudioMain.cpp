#include "Studio.h"

int main(int argc, char** argv) { return zyr::studio::studioMain(argc, argv); }
