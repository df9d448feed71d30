// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ProfileFile.h"

#include "settings/ProfileValues.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char foldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const char *a, qsizetype aLength, const char *b, qsizetype bLength)
{
    if (aLength != bLength)
        return false;
    for (qsizetype i = 0; i < aLength; ++i) {
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    }
    return true;
}

// FNV-1a over the folded bytes: the index needs no folded copy of each name.
size_t foldedHash(const char *p, qsizetype length)
{
    quint64 h = 14695981039346656037ull;
    for (qsizetype i = 0; i < length; ++i) {
        h ^= static_cast<unsigned char>(foldCase(p[i]));
        h *= 1099511628211ull;
    }
    return static_cast<size_t>(h);
}

QByteArray folded(const QByteArray &name)
{
    return name.toLower();  // ASCII only in Qt 6, as foldCase
}

// Where the line that starts at `begin` ends: its content (without CR LF or
// LF) and the start of the next line.
struct LineBounds {
    qsizetype contentEnd;
    qsizetype next;
};

LineBounds lineBounds(const QByteArray &data, qsizetype begin, qsizetype limit)
{
    const char *base = data.constData();
    const void *lf = std::memchr(base + begin, '\n', static_cast<size_t>(limit - begin));
    if (!lf)
        return {limit, limit};
    const qsizetype at = static_cast<const char *>(lf) - base;
    const qsizetype contentEnd = (at > begin && base[at - 1] == '\r') ? at - 1 : at;
    return {contentEnd, at + 1};
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    qsizetype nameBegin = 0;
    qsizetype nameEnd = 0;
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
};

ParsedLine parseLine(const QByteArray &data, qsizetype begin, qsizetype end)
{
    const char *p = data.constData();
    while (begin < end && isBlank(p[begin]))
        ++begin;
    while (end > begin && isBlank(p[end - 1]))
        --end;
    ParsedLine line;
    if (begin == end || p[begin] == ';' || p[begin] == '#')
        return line;
    if (p[begin] == '[') {
        const void *close = std::memchr(p + begin, ']', static_cast<size_t>(end - begin));
        if (!close)
            return line;
        qsizetype nameBegin = begin + 1;
        qsizetype nameEnd = static_cast<const char *>(close) - p;
        while (nameBegin < nameEnd && isBlank(p[nameBegin]))
            ++nameBegin;
        while (nameEnd > nameBegin && isBlank(p[nameEnd - 1]))
            --nameEnd;
        line.kind = LineKind::Section;
        line.nameBegin = nameBegin;
        line.nameEnd = nameEnd;
        return line;
    }
    const void *equals = std::memchr(p + begin, '=', static_cast<size_t>(end - begin));
    if (!equals)
        return line;
    const qsizetype at = static_cast<const char *>(equals) - p;
    qsizetype nameEnd = at;
    while (nameEnd > begin && isBlank(p[nameEnd - 1]))
        --nameEnd;
    if (nameEnd == begin)
        return line;
    qsizetype valueBegin = at + 1;
    while (valueBegin < end && isBlank(p[valueBegin]))
        ++valueBegin;
    line.kind = LineKind::Entry;
    line.nameBegin = begin;
    line.nameEnd = nameEnd;
    line.valueBegin = valueBegin;
    line.valueEnd = end;
    return line;
}

// A value in a pair of like quotes reads without them.
QByteArray withoutQuotes(const QByteArray &raw)
{
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        return raw.mid(1, raw.size() - 2);
    return raw;
}

bool needsEscape(const QByteArray &value)
{
    if (value.isEmpty())
        return false;
    if (isBlank(value.front()) || isBlank(value.back()))
        return true;
    if (value.front() == '"' || value.front() == '\'')
        return true;
    if (value.startsWith(ProfileFile::EscapeMark))
        return true;
    for (char c : value) {
        if (c == '\0' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

QByteArray cut(QByteArray value)
{
    if (value.size() > ProfileFile::MaxValueLength)
        value.truncate(ProfileFile::MaxValueLength);
    return value;
}

}  // namespace

ProfileFile::ProfileFile(const QString &path) : filePath(path)
{
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            readFailed = true;
            error = file.errorString();
        } else {
            data = file.readAll();
            if (file.error() != QFileDevice::NoError) {
                readFailed = true;
                error = file.errorString();
                data.clear();
            }
        }
    }
    const qsizetype lf = data.indexOf('\n');
    if (lf >= 0)
        lineEnd = (lf > 0 && data.at(lf - 1) == '\r') ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

const ProfileFile::Section *ProfileFile::findSection(const QByteArray &name) const
{
    // Sections are looked for on demand and remembered, found or not: a load
    // asks for a handful, so even a huge file costs a few linear scans and no
    // memory per section.
    const QByteArray key = folded(name);
    const auto known = sectionIndex.constFind(key);
    if (known != sectionIndex.constEnd())
        return known.value() < 0 ? nullptr : &sections.at(known.value());

    const char *p = data.constData();
    const qsizetype size = data.size();
    Section *found = nullptr;
    qsizetype begin = 0;
    while (begin < size) {
        const LineBounds bounds = lineBounds(data, begin, size);
        // Cheap test first: most lines are not headers.
        qsizetype first = begin;
        while (first < bounds.contentEnd && isBlank(p[first]))
            ++first;
        if (first < bounds.contentEnd && p[first] == '[') {
            const ParsedLine line = parseLine(data, begin, bounds.contentEnd);
            if (line.kind == LineKind::Section) {
                if (found) {
                    found->bodyEnd = begin;
                    break;
                }
                // The first section of a name counts.
                if (sameName(p + line.nameBegin, line.nameEnd - line.nameBegin, name.constData(), name.size())) {
                    Section section;
                    section.name = data.mid(line.nameBegin, line.nameEnd - line.nameBegin);
                    section.bodyBegin = bounds.next;
                    section.bodyEnd = size;
                    section.insertAt = bounds.next;
                    sections.append(std::move(section));
                    found = &sections.last();
                }
            }
        }
        begin = bounds.next;
    }
    sectionIndex.insert(key, found ? sections.size() - 1 : -1);
    return found;
}

void ProfileFile::indexSection(Section &section) const
{
    if (section.indexed)
        return;
    section.indexed = true;
    const char *p = data.constData();
    qsizetype begin = section.bodyBegin;
    while (begin < section.bodyEnd) {
        const LineBounds bounds = lineBounds(data, begin, section.bodyEnd);
        const ParsedLine line = parseLine(data, begin, bounds.contentEnd);
        if (line.kind == LineKind::Entry) {
            section.insertAt = bounds.next;
            section.lines.emplace_back(foldedHash(p + line.nameBegin, line.nameEnd - line.nameBegin), begin);
        }
        begin = bounds.next;
    }
    std::sort(section.lines.begin(), section.lines.end());
}

std::optional<qsizetype> ProfileFile::findKeyLine(const Section &section, const QByteArray &key) const
{
    if (section.isNew)
        return std::nullopt;
    indexSection(const_cast<Section &>(section));
    const char *p = data.constData();
    const size_t hash = foldedHash(key.constData(), key.size());
    // Same hash in file order: the first entry of that name counts.
    for (auto it = std::lower_bound(section.lines.begin(), section.lines.end(), std::make_pair(hash, qsizetype(0)));
         it != section.lines.end() && it->first == hash; ++it) {
        const ParsedLine line = parseLine(data, it->second, lineBounds(data, it->second, section.bodyEnd).contentEnd);
        if (sameName(p + line.nameBegin, line.nameEnd - line.nameBegin, key.constData(), key.size()))
            return it->second;
    }
    return std::nullopt;
}

std::optional<QByteArray> ProfileFile::storedValue(const QByteArray &sectionName, const QByteArray &key) const
{
    const Section *section = findSection(sectionName);
    if (!section)
        return std::nullopt;
    if (const std::optional<qsizetype> lineStart = findKeyLine(*section, key)) {
        const auto change = replaced.constFind(*lineStart);
        if (change != replaced.constEnd())
            return change->stored;
        const ParsedLine line = parseLine(data, *lineStart, lineBounds(data, *lineStart, section->bodyEnd).contentEnd);
        return withoutQuotes(data.mid(line.valueBegin, line.valueEnd - line.valueBegin));
    }
    const auto added = section->addedIndex.constFind(folded(key));
    if (added != section->addedIndex.constEnd())
        return section->added.at(added.value()).stored;
    return std::nullopt;
}

QByteArray ProfileFile::readString(const QByteArray &section, const QByteArray &key,
                                   const QByteArray &defaultValue) const
{
    const std::optional<QByteArray> stored = storedValue(section, key);
    return cut(stored ? decodeValue(*stored) : defaultValue);
}

int ProfileFile::readInteger(const QByteArray &section, const QByteArray &key, int defaultValue) const
{
    return readProfileInteger(readString(section, key, QByteArray()), defaultValue);
}

bool ProfileFile::readBool(const QByteArray &section, const QByteArray &key, bool defaultValue) const
{
    return readProfileBool(readString(section, key, QByteArray()), defaultValue);
}

QList<QByteArray> ProfileFile::keyNames(const QByteArray &sectionName) const
{
    QList<QByteArray> names;
    const Section *section = findSection(sectionName);
    if (!section)
        return names;
    QSet<QByteArray> seen;
    qsizetype used = 1;  // the closing zero byte
    const auto take = [&](const QByteArray &name) {
        const QByteArray key = folded(name);
        if (seen.contains(key))
            return true;
        if (used + name.size() + 1 > KeyNamesBufferSize)
            return false;
        seen.insert(key);
        names.append(name);
        used += name.size() + 1;
        return true;
    };
    qsizetype begin = section->bodyBegin;
    while (begin < section->bodyEnd) {
        const LineBounds bounds = lineBounds(data, begin, section->bodyEnd);
        const ParsedLine line = parseLine(data, begin, bounds.contentEnd);
        if (line.kind == LineKind::Entry && !take(data.mid(line.nameBegin, line.nameEnd - line.nameBegin)))
            return names;
        begin = bounds.next;
    }
    for (const AddedKey &key : section->added) {
        if (!take(key.name))
            break;
    }
    return names;
}

bool ProfileFile::isValidSectionName(const QByteArray &name)
{
    if (name.isEmpty() || isBlank(name.front()) || isBlank(name.back()))
        return false;
    for (char c : name) {
        if (c == ']' || c == '\0' || c == '\r' || c == '\n')
            return false;
    }
    return true;
}

bool ProfileFile::isValidKeyName(const QByteArray &name)
{
    if (name.isEmpty() || isBlank(name.front()) || isBlank(name.back()))
        return false;
    if (name.front() == '[' || name.front() == ';' || name.front() == '#')
        return false;
    for (char c : name) {
        if (c == '=' || c == '\0' || c == '\r' || c == '\n')
            return false;
    }
    return true;
}

bool ProfileFile::writeString(const QByteArray &sectionName, const QByteArray &key, const QByteArray &value)
{
    if (!isValidSectionName(sectionName) || !isValidKeyName(key))
        return false;
    const QByteArray stored = encodeValue(value);
    if (!findSection(sectionName)) {
        Section section;
        section.name = sectionName;
        section.isNew = true;
        section.indexed = true;
        sections.append(std::move(section));
        sectionIndex.insert(folded(sectionName), sections.size() - 1);
    }
    Section &section = sections[sectionIndex.value(folded(sectionName))];

    if (const std::optional<qsizetype> lineStart = findKeyLine(section, key)) {
        const LineBounds bounds = lineBounds(data, *lineStart, section.bodyEnd);
        const ParsedLine line = parseLine(data, *lineStart, bounds.contentEnd);
        // Only the value changes; the key as spelt in the file, the blanks
        // around "=" and the line end stay.
        replaced.insert(*lineStart, Replacement{line.valueBegin, bounds.contentEnd, stored});
        return true;
    }
    const QByteArray foldedKey = folded(key);
    const auto added = section.addedIndex.constFind(foldedKey);
    if (added != section.addedIndex.constEnd()) {
        section.added[added.value()].stored = stored;
    } else {
        section.addedIndex.insert(foldedKey, section.added.size());
        section.added.append(AddedKey{key, stored});
    }
    return true;
}

bool ProfileFile::writeInteger(const QByteArray &section, const QByteArray &key, int value)
{
    return writeString(section, key, profileIntegerText(value));
}

bool ProfileFile::writeBool(const QByteArray &section, const QByteArray &key, bool value)
{
    return writeString(section, key, profileBoolText(value));
}

QByteArray ProfileFile::encodeValue(const QByteArray &value)
{
    if (!needsEscape(value))
        return value;
    static const char hexDigits[] = "0123456789ABCDEF";
    QByteArray out(EscapeMark);
    out.reserve(out.size() + 3 * value.size());
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u > ' ' && u < 0x7F && c != '%' && c != '"' && c != '\'') {
            out.append(c);
        } else {
            out.append('%');
            out.append(hexDigits[u >> 4]);
            out.append(hexDigits[u & 0x0F]);
        }
    }
    return out;
}

QByteArray ProfileFile::decodeValue(const QByteArray &stored)
{
    const qsizetype markLength = qsizetype(sizeof(EscapeMark)) - 1;
    if (!stored.startsWith(EscapeMark))
        return stored;
    QByteArray out;
    out.reserve(stored.size());
    for (qsizetype i = markLength; i < stored.size(); ++i) {
        const char c = stored.at(i);
        if (c != '%') {
            out.append(c);
            continue;
        }
        if (i + 2 >= stored.size())
            return stored;
        const int high = hexDigitValue(stored.at(i + 1));
        const int low = hexDigitValue(stored.at(i + 2));
        if (high < 0 || low < 0)
            return stored;
        out.append(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

QByteArray ProfileFile::contents() const
{
    struct Edit {
        qsizetype from;
        qsizetype to;
        QByteArray text;
        bool insertsLines;
    };
    QList<Edit> edits;
    edits.reserve(replaced.size() + sections.size());
    for (const Replacement &change : replaced)
        edits.append(Edit{change.from, change.to, change.stored, false});
    for (const Section &section : std::as_const(sections)) {
        if (section.isNew || section.added.isEmpty())
            continue;
        QByteArray lines;
        for (const AddedKey &key : section.added)
            lines += key.name + '=' + key.stored + lineEnd;
        edits.append(Edit{section.insertAt, section.insertAt, lines, true});
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.from < b.from; });

    QByteArray out;
    out.reserve(data.size() + 1024);
    // New lines go after a line end; the file's last line may lack one.
    const auto startLine = [&out, this]() {
        if (!out.isEmpty() && !out.endsWith('\n'))
            out += lineEnd;
    };
    qsizetype position = 0;
    for (const Edit &edit : std::as_const(edits)) {
        out.append(data.constData() + position, edit.from - position);
        if (edit.insertsLines)
            startLine();
        out += edit.text;
        position = edit.to;
    }
    out.append(data.constData() + position, data.size() - position);
    for (const Section &section : std::as_const(sections)) {
        if (!section.isNew)
            continue;
        startLine();
        out += '[' + section.name + ']' + lineEnd;
        for (const AddedKey &key : section.added)
            out += key.name + '=' + key.stored + lineEnd;
    }
    return out;
}

bool ProfileFile::save()
{
    if (readFailed) {
        error = QStringLiteral("%1: the existing file cannot be read: %2").arg(filePath, error);
        return false;
    }
    const QFileInfo info(filePath);
    const bool existed = info.exists();
    // A file marked read-only stays as it is, even where the folder would
    // allow replacing it.
    if (existed && !info.isWritable()) {
        error = QStringLiteral("%1: the file is read-only").arg(filePath);
        return false;
    }
    const QByteArray bytes = contents();
    QSaveFile file(filePath);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    // It holds the scrambled password: for its owner only, also when an
    // existing file was made readable by others. (Where only the file itself
    // can be written, and it belongs to someone else, this may fail; the
    // values are saved all the same.)
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    error.clear();
    return true;
}
