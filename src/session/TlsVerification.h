// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

// What decides whether an encrypted connection is trusted, besides the
// system's roots: the certificate file a user can put next to the program
// for a server of their own, and the one-line reason shown when a server's
// certificate is refused.
class TlsVerification {
public:
    // The file, beside the settings file, whose certificates are trusted in
    // addition to the system's roots: PEM text holding one or more
    // certificates (a self-signed server certificate, or the certificate of
    // the authority that signed the server's).
    static QString trustFileName();

    // The certificates in the PEM file at path; empty when the file is
    // missing, unreadable, too large or holds no certificate. Entries that
    // are not certificates are skipped. Also empty when users other than its
    // owner could have put a certificate there (it or its folder is writable
    // by them): then *ignored, when given, gets the console line saying so.
    static QList<QSslCertificate> loadTrustedCertificates(const QString &path, QString *ignored = nullptr);

    // The line naming why the server's certificate was refused, e.g.
    // "TLS: certificate has expired". When several checks failed, the one
    // the user has to act on first is named: trust before validity before
    // the host name. Empty when errors is empty.
    static QString refusalReason(const QList<QSslError> &errors);

    // The line for a handshake that failed without a certificate error (the
    // server does not speak TLS, no common protocol, closed the connection).
    static QString handshakeFailure(const QString &detail);

    // The line for a system without a working TLS library.
    static QString unavailable();
};
