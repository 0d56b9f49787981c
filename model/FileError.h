#pragma once
// Failure to write a file, and the one way the program writes whole files.

#include <QByteArray>
#include <QString>

#include <stdexcept>

namespace kobito {

// what() is the bilingual message in UTF-8; message() is the same as a QString.
class FileError : public std::runtime_error {
public:
    FileError(const QString& path, const QString& reason);

    const QString& path() const { return path_; }
    const QString& reason() const { return reason_; }
    QString message() const;

private:
    QString path_;
    QString reason_;
};

// Writes the bytes to a temporary file beside the path and replaces the file only once the new
// content is complete, so a failure leaves the old file as it was and nothing behind.
// Throws FileError naming the path and the system's reason.
void WriteFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace kobito
