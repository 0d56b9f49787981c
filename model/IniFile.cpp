#include "IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#ifdef Q_OS_WIN
#include "WindowsFiles.h"
#endif

#include <algorithm>
#include <utility>

namespace kobito {

QString IniFilenameFor(const QString& executablePath) {
    const qsizetype slash =
        std::max(executablePath.lastIndexOf(u'/'), executablePath.lastIndexOf(u'\\'));
    const qsizetype dot = executablePath.lastIndexOf(u'.');
    const QString stem = dot > slash ? executablePath.first(dot) : executablePath;
    return stem + QStringLiteral(".ini");
}

bool FolderIsWritable(const QString& folder) {
    // Only trying tells: permission bits are not the whole story (access
    // lists, read-only shares, and a read-only attribute that Windows
    // ignores on folders).
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kobito-write-test-XXXXXX")));
    if (!probe.open())
        return false;
    probe.close();
    return probe.remove();
}

bool IsInsideFolder(const QString& path, const QString& folder, Qt::CaseSensitivity cs) {
    if (folder.isEmpty())
        return false;
    const QString p = QDir::cleanPath(QString(path).replace(u'\\', u'/'));
    QString f = QDir::cleanPath(QString(folder).replace(u'\\', u'/'));
    if (p.compare(f, cs) == 0)
        return true;
    if (!f.endsWith(u'/')) // a root ("C:/", "/") ends with its separator already
        f += u'/';
    return p.startsWith(f, cs);
}

bool IsPerMachineProgramFolder(const QString& folder) {
#ifdef Q_OS_WIN
    // Canonical forms on both sides: long names for short ones (PROGRA~1),
    // links resolved.
    auto canonical = [](const QString& path) {
        const QString resolved = QFileInfo(path).canonicalFilePath();
        return resolved.isEmpty() ? QFileInfo(path).absoluteFilePath() : resolved;
    };
    const QString own = canonical(folder);
    for (const std::wstring& root : PerMachineProgramFolders())
        if (IsInsideFolder(own, canonical(QString::fromStdWString(root)), Qt::CaseInsensitive))
            return true;
#else
    Q_UNUSED(folder);
#endif
    return false;
}

SettingsFiles ChooseSettingsFiles(const QString& beside, const QString& user,
                                  bool besideIsWritable) {
    if (besideIsWritable || user.isEmpty())
        return {beside, beside};
    if (!QFileInfo::exists(user) && QFileInfo::exists(beside))
        return {beside, user};
    return {user, user};
}

SettingsFiles SettingsFileLocation(const QString& executablePath) {
    const QString beside = IniFilenameFor(executablePath);
    const QFileInfo info(beside);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    const QString user = config.isEmpty() ? QString() : QDir(config).filePath(info.fileName());
    const SettingsFiles files = ChooseSettingsFiles(
        beside, user,
        !IsPerMachineProgramFolder(info.absolutePath()) && FolderIsWritable(info.absolutePath()));
    if (files.write == user)
        QDir().mkpath(config);
    return files;
}

QString SettingsFilePath(const QString& executablePath) {
    return SettingsFileLocation(executablePath).write;
}

IniFile::IniFile(const QString& path) : IniFile(path, path) {}

IniFile::IniFile(const QString& readPath, const QString& writePath) : path_(writePath) {
    if (!QFileInfo::exists(readPath))
        return;
    // A NUL is no end of the text here: the sections after a stray one would be lost.
    TextFileResult text = LoadTextLines(readPath, NulRule::IsText);
    if (!text.ok) {
        readError_ = FileReadErrorText(readPath) + QStringLiteral("\r\n") + text.error;
        return;
    }
    encoding_ = text.encoding;
    parse(text.lines);
}

void IniFile::parse(const QStringList& lines) {
    for (const QString& raw : lines) {
        QString line = TrimControl(raw);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.size() >= 2 && line.startsWith(u'[') && line.endsWith(u']')) {
            sections_.append({TrimControl(line.sliced(1, line.size() - 2)), {}});
            continue;
        }
        if (sections_.isEmpty())
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0)
            line = TrimControl(line.first(equals)) + u'=' + TrimControl(line.sliced(equals + 1));
        sections_.last().lines.append(line);
    }
}

const IniFile::Section* IniFile::findSection(const QString& name) const {
    for (const Section& section : sections_)
        if (section.name.compare(name, Qt::CaseInsensitive) == 0)
            return &section;
    return nullptr;
}

IniFile::Section* IniFile::findSection(const QString& name) {
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

qsizetype IniFile::findKey(const QStringList& lines, const QString& key) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qsizetype equals = lines[i].indexOf(u'=');
        if (equals >= 0 &&
            QStringView(lines[i]).first(equals).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const Section* found = findSection(section);
    if (found == nullptr)
        return def;
    const qsizetype i = findKey(found->lines, key);
    if (i < 0)
        return def;
    const QString& line = found->lines[i];
    return line.sliced(line.indexOf(u'=') + 1);
}

bool IniFile::SectionExists(const QString& section) const {
    return findSection(section) != nullptr;
}

QStringList IniFile::SectionKeys(const QString& section) const {
    QStringList keys;
    const Section* found = findSection(section);
    if (found == nullptr)
        return keys;
    for (const QString& line : found->lines) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.first(equals);
        if (!keys.contains(key, Qt::CaseInsensitive))
            keys << key;
    }
    return keys;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    return StrToIntDef(ReadString(section, key, QString()), def);
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString line = key + u'=' + value;
    Section* found = findSection(section);
    if (found == nullptr) {
        sections_.append({section, {line}});
        return;
    }
    const qsizetype i = findKey(found->lines, key);
    if (i >= 0)
        found->lines[i] = line;
    else
        found->lines.append(line);
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray IniFile::toBytes() const {
    QStringList lines;
    for (const Section& section : sections_) {
        lines.append(u'[' + section.name + u']');
        lines.append(section.lines);
        lines.append(QString());
    }
    return EncodeLines(lines, encoding_);
}

QString IniFile::UpdateFile() const {
    if (readFailed())
        return {};
    try {
        WriteFileAtomically(path_, toBytes());
    } catch (const FileError& error) {
        return error.message();
    }
    return {};
}

} // namespace kobito
