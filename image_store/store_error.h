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

// The share's sample folder is not there to write in: the share is not
// mounted, or the folder is missing or read-only.
class ShareUnreachable : public StoreError {
public:
    using StoreError::StoreError;
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
