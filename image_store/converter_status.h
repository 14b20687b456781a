#pragma once

// How the converter ends, as the program reads it.

namespace image_store {

// Nothing written because the bitmap or the JPEG changed during the
// conversion: a newer take, or a deletion, has the last word.
inline constexpr int ConverterSupersededStatus = 3;
// The share failed an operation (an I/O error, a stale handle, no room, an
// identity that could not be read): the same conversion may succeed later.
inline constexpr int ConverterShareFailedStatus = 4;

} // namespace image_store
