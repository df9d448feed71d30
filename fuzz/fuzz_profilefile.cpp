// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file reader over arbitrary file contents, and one write into
// it: after saving and loading again, the written value reads back and every
// other value of that section is what it was.
//
// Input layout (FuzzedDataProvider): section name, key name and value as
// backslash-ended strings, then the file's bytes.

#include "FuzzCheck.h"
#include "settings/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace {

// ProfileFile reads a path; one file reused for every input keeps a run fast,
// and memory-backed storage spares the disk the sync of every save.
const QString &filePath()
{
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                              : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/tarnbeck-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    static const QString path = dir.path() + QStringLiteral("/Tarnbeck.ini");
    return path;
}

void writeFile(const QByteArray &contents)
{
    QFile file(filePath());
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(contents) == contents.size());
}

QList<std::pair<QByteArray, QByteArray>> sectionValues(const ProfileFile &ini, const QByteArray &section)
{
    QList<std::pair<QByteArray, QByteArray>> values;
    for (const QByteArray &name : ini.keyNames(section)) {
        const QByteArray value = ini.readString(section, name, QByteArray());
        FUZZ_CHECK(value.size() <= ProfileFile::MaxValueLength);
        values.append({name, value});
    }
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const QByteArray section = fuzzBytes(provider.ConsumeRandomLengthString(24));
    const QByteArray key = fuzzBytes(provider.ConsumeRandomLengthString(24));
    const QByteArray value = fuzzBytes(provider.ConsumeRandomLengthString(3000));
    writeFile(fuzzBytes(provider.ConsumeRemainingBytesAsString()));

    ProfileFile ini(filePath());
    // What the program reads at start-up.
    ini.readBool("Windows", "Maximize", false);
    ini.readInteger("Windows", "Height", 390);
    ini.readInteger("Windows", "Width", 560);
    sectionValues(ini, "Servers");
    sectionValues(ini, "Default");
    ini.readString("Default", "Port", "110");
    ini.readInteger(section, key, 0);

    const QList<std::pair<QByteArray, QByteArray>> before = sectionValues(ini, section);
    if (!ini.writeString(section, key, value)) {
        FUZZ_CHECK(!ProfileFile::isValidSectionName(section) || !ProfileFile::isValidKeyName(key));
        return 0;
    }
    FUZZ_CHECK(ini.readString(section, key, QByteArray()) == value.left(ProfileFile::MaxValueLength));
    FUZZ_CHECK(ini.save());

    const ProfileFile again(filePath());
    FUZZ_CHECK(again.readString(section, key, QByteArray()) == value.left(ProfileFile::MaxValueLength));
    const QByteArray foldedKey = key.toLower();
    for (const auto &[name, old] : before) {
        if (name.toLower() != foldedKey)
            FUZZ_CHECK(again.readString(section, name, QByteArray()) == old);
    }
    return 0;
}
