#pragma once

#include <stdexcept>

namespace image_store {

// A file of the share could not be read, written or deleted.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace image_store
