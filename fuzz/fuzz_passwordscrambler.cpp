// SPDX-License-Identifier: GPL-3.0-or-later
// Password scrambling and the settings file's value escaping: any stored
// text unscrambles without harm, and both encodings give back exactly what
// went in.
//
// Input layout (FuzzedDataProvider): a key, a password as a backslash-ended
// string, then the stored text.

#include "FuzzCheck.h"
#include "settings/PasswordScrambler.h"
#include "settings/ProfileFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

// What the reader trims around a value, and what would break its line.
bool isTrimmed(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\0';
}

void checkValueRoundTrip(const QByteArray &value)
{
    const QByteArray stored = ProfileFile::encodeValue(value);
    // It must stand on one line of the file, after "=", as it is.
    FUZZ_CHECK(!stored.contains('\0') && !stored.contains('\r') && !stored.contains('\n'));
    if (!stored.isEmpty()) {
        FUZZ_CHECK(!isTrimmed(stored.front()) && !isTrimmed(stored.back()));
        FUZZ_CHECK(stored.front() != '"' && stored.front() != '\'');
    }
    FUZZ_CHECK(ProfileFile::decodeValue(stored) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const int key = provider.ConsumeIntegral<int>();
    const QByteArray password = fuzzBytes(provider.ConsumeRandomLengthString(512));
    const QByteArray stored = fuzzBytes(provider.ConsumeRemainingBytesAsString());

    const QByteArray unscrambled = UnscramblePassword(stored, key);
    FUZZ_CHECK(unscrambled.size() == (stored.size() > 3 ? (stored.size() - 3) / 2 : 0));

    const QByteArray scrambled = ScramblePassword(password, key);
    FUZZ_CHECK(scrambled.size() == 2 * password.size() + 3);
    for (qsizetype i = 0; i < scrambled.size(); ++i) {
        // Prefix and fillers; data bytes sit at odd places after the prefix.
        if (i < 3 || (i - 3) % 2 == 0)
            FUZZ_CHECK(scrambled.at(i) >= 32 && scrambled.at(i) <= 63);
    }
    FUZZ_CHECK(UnscramblePassword(scrambled, key) == password);

    const int userKey = UserKey(password);
    if (password.size() < 2)
        FUZZ_CHECK(userKey == UserKeyForShortId);
    else
        FUZZ_CHECK(userKey == static_cast<unsigned char>(password.at(0)) + static_cast<unsigned char>(password.at(1)));

    checkValueRoundTrip(stored);
    checkValueRoundTrip(scrambled);
    return 0;
}
