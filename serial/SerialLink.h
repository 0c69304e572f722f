#pragma once

#include <stdexcept>

// A time interval that cannot be turned into a time: Delay's refusal of
// seconds >= 60 or milliseconds >= 1000.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
