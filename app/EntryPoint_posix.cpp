// Process entry elsewhere than Windows: main, arguments ignored; the
// presentation reads no command line.
#include "Presentation.h"

int main() { return tessaranMain(); }
