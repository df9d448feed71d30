// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The settings file, in the INI ("profile") format. One object serves one load
// or one save: the constructor reads the file once, reads and writes work on
// that copy in memory, and save() writes it back in one go.
//
// The format as read and written here:
// - Lines end in LF or CR LF; both are read, each line keeps its own on save,
//   and new lines take the ending of the file's first line (CR LF in a new file).
// - "[name]" starts a section (blanks around the name ignored); "key=value"
//   is an entry (blanks around the key and the value ignored). Lines starting
//   with ";" or "#" are comments; lines without "=" and entries before the
//   first section are not entries. All of them survive a save untouched.
// - Section and key names match ignoring ASCII letter case; when a section or
//   a key occurs twice, the first one counts, for reading and writing.
// - A value enclosed in a pair of like quotes ('...' or "...") reads without
//   them, as on the platforms that use this format.
// - Files are bytes; names and values too.
//
// Values that a line cannot carry as they stand (NUL, CR or LF inside, blanks
// at either end, a leading quote, or text that starts with the escape mark
// itself) are written escaped: EscapeMark followed by the value with every
// byte outside "!" to "~", and "%" and both quotes, as "%XX" (two upper-case
// hex digits). Every other value is written as it is, so the file stays
// readable by any INI reader.
class ProfileFile {
public:
    explicit ProfileFile(const QString &path);

    QString path() const { return filePath; }

    // A missing section or key gives the default. The result is cut to
    // MaxValueLength bytes, default included.
    QByteArray readString(const QByteArray &section, const QByteArray &key,
                          const QByteArray &defaultValue) const;
    int readInteger(const QByteArray &section, const QByteArray &key, int defaultValue) const;
    bool readBool(const QByteArray &section, const QByteArray &key, bool defaultValue) const;

    // The key names of a section, each once, in file order (keys added since
    // loading last). Like the platform's 16 KB list it stops at the first name
    // that no longer fits KeyNamesBufferSize (each name with a zero byte, and a
    // closing zero), but it never returns a name cut short.
    QList<QByteArray> keyNames(const QByteArray &section) const;

    // Sets a value in memory: an existing key keeps its line (only the value
    // changes), a missing key goes after the last entry of its section, a
    // missing section goes at the end of the file. Returns false and changes
    // nothing when the section or key name cannot stand in an INI line.
    bool writeString(const QByteArray &section, const QByteArray &key, const QByteArray &value);
    bool writeInteger(const QByteArray &section, const QByteArray &key, int value);
    bool writeBool(const QByteArray &section, const QByteArray &key, bool value);

    // Writes the file: replaced as a whole (through a temporary file where the
    // folder allows it), so a failure leaves the previous file intact. The
    // file is left readable and writable by its owner only. Returns false,
    // with errorString() set, when the file cannot be written, and also when
    // it existed but could not be read (it would otherwise lose its content).
    bool save();
    QString errorString() const { return error; }

    static bool isValidSectionName(const QByteArray &name);
    static bool isValidKeyName(const QByteArray &name);

    // The value as it stands after "=" in the file, and back.
    static QByteArray encodeValue(const QByteArray &value);
    // Restores an escaped value; anything else (including a malformed escape,
    // which this class never writes) is returned unchanged.
    static QByteArray decodeValue(const QByteArray &stored);

    static constexpr qsizetype MaxValueLength = 2047;
    static constexpr qsizetype KeyNamesBufferSize = 16384;
    static constexpr char EscapeMark[] = "%%";

private:
    struct AddedKey {
        QByteArray name;
        QByteArray stored;  // encoded value
    };
    struct Section {
        QByteArray name;
        qsizetype bodyBegin = 0;  // first byte after the header line
        qsizetype bodyEnd = 0;    // start of the next section's header line, or the end
        bool isNew = false;
        // Built on the first look-up of a key: the start of every entry line,
        // sorted by the hash of its name folded to lower case, then by place.
        bool indexed = false;
        std::vector<std::pair<size_t, qsizetype>> lines;
        qsizetype insertAt = 0;  // after the last entry: where new keys go
        QList<AddedKey> added;
        QHash<QByteArray, qsizetype> addedIndex;  // folded name -> position in added
    };
    struct Replacement {
        qsizetype from = 0;  // the value's first byte in the line
        qsizetype to = 0;    // end of the line's content
        QByteArray stored;   // encoded value
    };

    const Section *findSection(const QByteArray &name) const;
    void indexSection(Section &section) const;
    std::optional<qsizetype> findKeyLine(const Section &section, const QByteArray &key) const;
    std::optional<QByteArray> storedValue(const QByteArray &section, const QByteArray &key) const;
    QByteArray contents() const;

    QString filePath;
    QString error;
    bool readFailed = false;
    QByteArray data;
    QByteArray lineEnd = "\r\n";
    // Sections are found and indexed on demand, also by const readers.
    mutable QList<Section> sections;
    mutable QHash<QByteArray, qsizetype> sectionIndex;  // folded name -> section, or -1 when missing
    QHash<qsizetype, Replacement> replaced;     // line start -> new value
};
