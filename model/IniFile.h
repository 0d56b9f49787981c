#pragma once
// The settings file: ordered sections of key=value lines, kept in memory between start-up and
// shutdown and written back whole, unknown sections and keys in their places.

#include "FileError.h"
#include "TextRules.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kobito {

// The executable's path with the extension of its file name replaced by ".ini" (appended when
// the name has none).
QString IniFilenameFor(const QString& executablePath);

// Whether the program may keep its settings file in folder: a temporary file can be created
// there and removed again.
bool FolderIsWritable(const QString& folder);

// Whether path is folder itself or lies inside it, comparing whole names (either separator;
// letter case ignored when cs says so). An empty folder holds nothing.
bool IsInsideFolder(const QString& path, const QString& folder, Qt::CaseSensitivity cs);

// Whether folder lies in a system folder for programs installed for every user (Program Files on
// Windows; nothing elsewhere). A copy there keeps its settings in the user's folder even where it
// could write beside itself: an administrator, and under Wine everyone, can write there, and one
// user's settings must not become every user's.
bool IsPerMachineProgramFolder(const QString& folder);

// Where the settings are read from at start-up and written to at shutdown.
struct SettingsFiles {
    QString read;
    QString write;
};

// beside: the file beside the executable; user: the same name in the user's configuration folder
// (empty when the system has none). A writable folder beside the executable keeps the file
// there. Otherwise the user's copy is used once it exists; until then a file beside the
// executable (a prepared copy on a read-only share) is read, and the user's copy written.
SettingsFiles ChooseSettingsFiles(const QString& beside, const QString& user,
                                  bool besideIsWritable);

// ChooseSettingsFiles for this executable, the folder beside it counting as writable when it is
// and is no per-machine program folder; makes the configuration folder when it is chosen.
SettingsFiles SettingsFileLocation(const QString& executablePath);

// The file the settings are written to: SettingsFileLocation(executablePath).write.
QString SettingsFilePath(const QString& executablePath);

class IniFile {
public:
    // An empty copy with no file behind it.
    IniFile() = default;
    // Reads the file if it exists. A missing file gives an empty copy; one that exists but cannot
    // be read gives an empty copy too, with readError() to show the user.
    explicit IniFile(const QString& path);
    // Reads readPath as above; UpdateFile() writes writePath.
    IniFile(const QString& readPath, const QString& writePath);

    // The file UpdateFile() writes.
    const QString& fileName() const { return path_; }
    bool readFailed() const { return !readError_.isEmpty(); }
    // The read error text naming the path and the system's reason; empty when reading went well.
    const QString& readError() const { return readError_; }
    // The encoding found when reading; the default 8-bit code page for a new file.
    TextEncoding encoding() const { return encoding_; }

    // Names compare without regard to case; the first section of a name and its first line with
    // the key are used. A missing section or key gives def.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Decimal, or hexadecimal after "$", "x" or "0x"; a value that does not convert gives def.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // An integer, any value but 0 being true.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Whether a section of that name exists.
    bool SectionExists(const QString& section) const;
    // The keys of the first section of that name, in file order; a key that appears twice is
    // listed once (its first line is the one read).
    QStringList SectionKeys(const QString& section) const;

    // Replaces the key's line in place (spelt as given here), else appends it to the section,
    // else appends a new section.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    // The whole file: each section's "[name]" line, its lines and one empty line, CR LF after
    // every line, in encoding() with its mark for UTF-8 and UTF-16.
    QByteArray toBytes() const;

    // Writes toBytes() to fileName() atomically. Returns an empty text on success, else the
    // message naming the path and the system's reason (the old file is left as it was).
    // A file that could not be read is never written: the user's settings would be lost to the
    // defaults; the read error was reported already, so that returns an empty text too.
    [[nodiscard]] QString UpdateFile() const;

private:
    struct Section {
        QString name;
        QStringList lines;
    };

    void parse(const QStringList& lines);
    const Section* findSection(const QString& name) const;
    Section* findSection(const QString& name);
    static qsizetype findKey(const QStringList& lines, const QString& key);

    QString path_;
    QString readError_;
    TextEncoding encoding_ = TextEncoding::Default8Bit;
    QList<Section> sections_;
};

} // namespace kobito
