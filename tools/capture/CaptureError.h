// CaptureError: a capture that cannot go on, with a one-line reason for the
// author (zyr-capture prints it and exits 1).
#pragma once

#include <stdexcept>

namespace zyr {

class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zyr
