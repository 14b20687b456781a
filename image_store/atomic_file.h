#pragma once

#include "image_store/cancel_token.h"
#include "image_store/file_identity.h"

#include <QByteArray>
#include <QString>

namespace image_store {

// Puts bytes at a local path whole or not at all: one write to the
// temporary beside it (temporary_name.h), then a rename, so readers see the
// whole file or the earlier one. A link or anything but a regular file under
// the target's name is refused, never written through. Nothing is put in
// place once the token is cancelled, even by a rename that returns after
// it was. No sync: a bitmap lost to a power cut right after a capture is
// taken again. Returns the identity of the file put in place; throws
// StoreError.
FileIdentity replaceFile(const QString& localPath, const QByteArray& bytes, const CancelToken& token);

} // namespace image_store
