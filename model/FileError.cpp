#include "FileError.h"

#include "TextRules.h"

#include <QSaveFile>

namespace kobito {

FileError::FileError(const QString& path, const QString& reason)
    : std::runtime_error(FileWriteErrorText(path, reason).toStdString()), path_(path),
      reason_(reason) {}

QString FileError::message() const {
    return FileWriteErrorText(path_, reason_);
}

void WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    // Unbuffered, because a short write while flushing the buffer inside commit() goes unnoticed
    // and a truncated file would replace the old one. Writing the rest after a short write brings
    // out the system's reason (disk full, file too large).
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileError(path, file.errorString());
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            throw FileError(path, reason);
        }
        written += n;
    }
    if (!file.commit())
        throw FileError(path, file.errorString());
}

} // namespace kobito
