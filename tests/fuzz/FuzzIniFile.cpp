// The settings file on arbitrary bytes: read, written, read and written
// again gives the same file the second time, and every key found reads back.
#include "FuzzCheck.h"

#include "IniFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// One folder for the whole run, on a RAM disk when there is one.
const QString& IniPath() {
    static const QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/kobito-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/kobito-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    static const QString path = dir.filePath(QStringLiteral("settings.ini"));
    return path;
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString& path = IniPath();
    WriteBytes(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    kobito::IniFile first(path);
    FUZZ_CHECK(!first.readFailed());
    FUZZ_CHECK(first.UpdateFile().isEmpty());
    const QByteArray once = ReadBytes(path);
    FUZZ_CHECK(once == first.toBytes());

    kobito::IniFile second(path);
    FUZZ_CHECK(!second.readFailed());
    FUZZ_CHECK(second.encoding() == first.encoding());
    FUZZ_CHECK(second.UpdateFile().isEmpty());
    FUZZ_CHECK(ReadBytes(path) == once);

    // A value written under any section and key reads back as written, and
    // the file still reads back to itself afterwards.
    const QString section = QStringLiteral("Fuzz");
    const QString key = QStringLiteral("Key");
    second.WriteString(section, key, QStringLiteral("value"));
    FUZZ_CHECK(second.ReadString(section, key, QString()) == QStringLiteral("value"));
    second.WriteInteger(section, key, -42);
    FUZZ_CHECK(second.ReadInteger(section, key, 0) == -42);
    FUZZ_CHECK(second.UpdateFile().isEmpty());
    kobito::IniFile third(path);
    FUZZ_CHECK(third.ReadInteger(section, key, 0) == -42);
    FUZZ_CHECK(third.toBytes() == second.toBytes());
    return 0;
}
