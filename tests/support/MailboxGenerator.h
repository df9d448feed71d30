// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Fills a maildir with messages for a real POP3 server: realistic, varied and
// reproducible from a seed.
//
//     MailboxGenerator mailbox(dir);
//     const QStringList names = mailbox.writeMessages(200, 7);
//     const QByteArray third = MailboxGenerator::message(7, 2); // what names[2] holds
//
// Messages are stored with LF line ends, as Dovecot keeps them. File names
// carry ",S=<file size>,W=<size with CR LF>" so that Dovecot answers LIST
// without opening every file, and sort in the order the messages were written,
// so message number n (counting from 1) is the n-th one written into an empty
// maildir. Names are deterministic too: regenerating a mailbox gives the same
// UIDLs when the server uses the file name as UIDL.
//
// The seeded messages mix plain notes, replies ("Re:"), spam-like offers,
// multipart/mixed mail with a base64 attachment, mail with lines beginning
// with "." (dot-stuffing), raw 8-bit and encoded non-ASCII headers, and now
// and then a large message of a few hundred kilobytes.
class MailboxGenerator {
public:
    enum class Folder { New, Cur };

    // The kinds of generated message. Any 20 consecutive seeded messages hold
    // every kind but Large, which comes once in 100.
    enum class Kind { Plain, Reply, Spam, Attachment, DotLines, EightBitHeader, EncodedHeader, Newsletter, Large };

    explicit MailboxGenerator(const QString &maildir);

    QString directory() const { return dir; }

    // Creates the maildir with cur/, new/ and tmp/ if missing.
    bool prepare(QString *whyNot = nullptr);

    // Stores raw bytes as they are and returns the file name (without folder),
    // or an empty string when the file cannot be written.
    QString writeMessage(const QByteArray &raw, Folder folder = Folder::Cur);

    // Writes message(seed, i) for i in 0..count-1, in that order, and returns
    // the file names in the same order (stops at the first failure).
    QStringList writeMessages(int count, quint32 seed, Folder folder = Folder::Cur);

    // The seeded message number index (from 0); the same for the same pair.
    static QByteArray message(quint32 seed, int index);
    static Kind kindOf(quint32 seed, int index);

    // The unfolded value of the first header field called name (ignoring case),
    // or an empty array. Looks only at the header block.
    static QByteArray headerValue(const QByteArray &raw, const QByteArray &name);

    // A header value (as headerValue gives it) as its author wrote it: the
    // generator's encoded words replaced by the text they stand for, by table
    // and not by decoding; other bytes UTF-8 where valid, else Latin-1.
    static QString readableText(const QByteArray &value);

    // What a POP3 server counts for LIST: the size with every bare LF as CR LF.
    static qint64 virtualSize(const QByteArray &raw);

    // The maildir file name for raw stored as message number sequence.
    static QString fileName(qint64 sequence, const QByteArray &raw, Folder folder);

private:
    QString folderPath(Folder folder) const;
    qint64 nextSequence();

    QString dir;
    qint64 sequence = -1;
};
