// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringView>
#include <QtGlobal>

#include <optional>

// A dotted-decimal IPv4 address as typed: four runs of decimal digits joined
// by dots, each worth at most 255 (leading zeros allowed, so "010" is 10).
// The address in host byte order, or nothing when the text is not one.
std::optional<quint32> parseIpv4(QStringView text);
