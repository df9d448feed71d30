// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTcpServer>

// A loopback port that nobody listens on (free a moment ago).
inline quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
