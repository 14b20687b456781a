#pragma once

#include <QString>

#include <exception>
#include <stdexcept>

namespace image_store {

// A file of the share could not be read, written or deleted.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a failure that came back as an answer says.
inline QString whatOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    } catch (...) {
        return QStringLiteral("unknown failure");
    }
}

} // namespace image_store
