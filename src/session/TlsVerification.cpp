// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/TlsVerification.h"

#include "base/FileOwnership.h"

#include <QDir>
#include <QFile>

namespace {

// A trust file is a handful of certificates; anything far larger is not one,
// and is not read into memory.
constexpr qint64 maxTrustFileSize = 16 * 1024 * 1024;

enum class Verdict { Untrusted, Expired, NotYetValid, Revoked, HostName, NoCertificate, Other };

Verdict verdictOf(QSslError::SslError error)
{
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
    case QSslError::InvalidCaCertificate:
    case QSslError::PathLengthExceeded:
    case QSslError::InvalidPurpose:
    case QSslError::SubjectIssuerMismatch:
    case QSslError::AuthorityIssuerSerialNumberMismatch:
        return Verdict::Untrusted;
    case QSslError::CertificateExpired:
        return Verdict::Expired;
    case QSslError::CertificateNotYetValid:
        return Verdict::NotYetValid;
    case QSslError::CertificateRevoked:
        return Verdict::Revoked;
    case QSslError::HostNameMismatch:
        return Verdict::HostName;
    case QSslError::NoPeerCertificate:
        return Verdict::NoCertificate;
    default:
        break;
    }
    return Verdict::Other;
}

}  // namespace

QString TlsVerification::trustFileName()
{
    return QStringLiteral("Tarnbeck-trusted.pem");
}

QList<QSslCertificate> TlsVerification::loadTrustedCertificates(const QString &path, QString *ignored)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > maxTrustFileSize)
        return {};
    // A certificate planted here by someone else would let them read the
    // password of every encrypted connection.
    const platform::OthersCanWrite others = platform::othersCanWrite(path);
    if (others != platform::OthersCanWrite::No) {
        const QString what =
            others == platform::OthersCanWrite::File ? QStringLiteral("it") : QStringLiteral("its folder");
        if (ignored)
            *ignored = QStringLiteral("TLS: %1 ignored: other users can write to %2")
                           .arg(QDir::toNativeSeparators(path), what);
        return {};
    }
    const QByteArray pem = file.read(maxTrustFileSize + 1);
    if (pem.size() > maxTrustFileSize)
        return {};
    QList<QSslCertificate> certificates;
    for (const QSslCertificate &certificate : QSslCertificate::fromData(pem, QSsl::Pem)) {
        if (!certificate.isNull())
            certificates.append(certificate);
    }
    return certificates;
}

QString TlsVerification::refusalReason(const QList<QSslError> &errors)
{
    if (errors.isEmpty())
        return QString();
    // The order in which a user has to deal with the problems: a server that
    // is not trusted at all makes its dates and names beside the point.
    static const Verdict order[] = {Verdict::NoCertificate, Verdict::Untrusted, Verdict::Revoked, Verdict::Expired,
                                    Verdict::NotYetValid,   Verdict::HostName,  Verdict::Other};
    for (const Verdict wanted : order) {
        for (const QSslError &error : errors) {
            if (verdictOf(error.error()) != wanted)
                continue;
            switch (wanted) {
            case Verdict::NoCertificate:
                return QStringLiteral("TLS: the server sent no certificate");
            case Verdict::Untrusted:
                return QStringLiteral("TLS: certificate is not trusted");
            case Verdict::Revoked:
                return QStringLiteral("TLS: certificate has been revoked");
            case Verdict::Expired:
                return QStringLiteral("TLS: certificate has expired");
            case Verdict::NotYetValid:
                return QStringLiteral("TLS: certificate is not yet valid");
            case Verdict::HostName:
                return QStringLiteral("TLS: host name mismatch");
            case Verdict::Other:
                return QStringLiteral("TLS: certificate refused: ") + error.errorString();
            }
        }
    }
    return QString();
}

QString TlsVerification::handshakeFailure(const QString &detail)
{
    return detail.isEmpty() ? QStringLiteral("TLS: handshake failed")
                            : QStringLiteral("TLS: handshake failed: ") + detail;
}

QString TlsVerification::unavailable()
{
    return QStringLiteral("TLS: not available on this system");
}
