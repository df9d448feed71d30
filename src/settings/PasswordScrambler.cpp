// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/PasswordScrambler.h"

#include <cstdint>

namespace {

// A linear congruential generator, reset from the key at the start of every
// scramble and unscramble, so a result never depends on earlier calls. Each
// call has its own instance: nothing is shared between calls.
class ScrambleSequence {
public:
    explicit ScrambleSequence(int key) : state(static_cast<std::uint32_t>(key)) {}

    // One draw in 0 .. range - 1: the state is advanced first, then the
    // upper 32 bits of range * state are taken.
    std::uint32_t draw(std::uint32_t range)
    {
        state = state * 134775813u + 1u;  // modulo 2^32 by unsigned wrap-around
        return static_cast<std::uint32_t>((std::uint64_t(range) * state) >> 32);
    }

private:
    std::uint32_t state;
};

constexpr std::uint32_t DrawRange = 32;
constexpr int PrefixLength = 3;

char byteOf(std::uint32_t code)
{
    return static_cast<char>(static_cast<unsigned char>(code & 0xFFu));
}

}  // namespace

int UserKey(const QByteArray &userId)
{
    if (userId.size() < 2)
        return UserKeyForShortId;
    return static_cast<unsigned char>(userId.at(0)) + static_cast<unsigned char>(userId.at(1));
}

QByteArray ScramblePassword(const QByteArray &password, int key)
{
    const qsizetype n = password.size();
    ScrambleSequence sequence(key);

    // The draw order is part of the stored format: all offsets first, then all
    // fillers, then the three prefix bytes.
    QByteArray data(n, '\0');
    for (qsizetype i = 0; i < n; ++i) {
        const std::uint32_t offset = sequence.draw(DrawRange);
        data[i] = byteOf(static_cast<unsigned char>(password.at(i)) + offset);
    }
    QByteArray fillers(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        fillers[i] = byteOf(sequence.draw(DrawRange) + 32);

    QByteArray stored;
    stored.reserve(PrefixLength + 2 * n);
    for (int i = 0; i < PrefixLength; ++i)
        stored.append(byteOf(sequence.draw(DrawRange) + 32));
    for (qsizetype i = 0; i < n; ++i) {
        stored.append(fillers.at(i));
        stored.append(data.at(i));
    }
    return stored;
}

QByteArray UnscramblePassword(const QByteArray &stored, int key)
{
    if (stored.size() <= PrefixLength)
        return {};
    const qsizetype n = (stored.size() - PrefixLength) / 2;
    ScrambleSequence sequence(key);
    QByteArray password(n, '\0');
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char kept = static_cast<unsigned char>(stored.at(PrefixLength + 2 * i + 1));
        password[i] = byteOf(kept - sequence.draw(DrawRange));
    }
    return password;
}
