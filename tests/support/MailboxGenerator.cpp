// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MailboxGenerator.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <array>
#include <cstdint>
#include <string_view>

namespace {

// File names count seconds from here, one per message, so that Dovecot (which
// orders new maildir files by their time stamp) numbers them in writing order.
constexpr qint64 NameEpoch = 1700000000;
// Generated mail is dated from Monday 8 January 2024, 08:00 UTC, onwards.
constexpr qint64 DateEpoch = 1704700800;

constexpr QFile::Permissions FileMode =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
constexpr QFile::Permissions DirMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

using Kind = MailboxGenerator::Kind;

// Every 20 consecutive messages contain each kind but Large; Large replaces one
// Plain slot in every 100.
constexpr std::array<Kind, 20> Schedule = {
    Kind::Plain, Kind::Reply, Kind::Spam, Kind::Attachment, Kind::Plain,
    Kind::DotLines, Kind::Reply, Kind::EightBitHeader, Kind::Newsletter, Kind::Spam,
    Kind::Reply, Kind::EncodedHeader, Kind::Plain, Kind::Attachment, Kind::Reply,
    Kind::DotLines, Kind::Spam, Kind::Plain, Kind::Reply, Kind::Newsletter,
};
constexpr int LargeSlot = 37; // 37 % 20 == 17, a Plain slot
static_assert(Schedule[LargeSlot % Schedule.size()] == Kind::Plain);

// splitmix64: small, fast and good enough to vary test mail.
class Random {
public:
    Random(quint32 seed, int index)
        : state((quint64(seed) << 32) ^ quint64(quint32(index)) ^ 0x9E3779B97F4A7C15ull)
    {
        next();
    }

    quint64 next()
    {
        quint64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A number in [low, high].
    int between(int low, int high) { return low + int(next() % quint64(high - low + 1)); }
    bool chance(int percent) { return between(1, 100) <= percent; }

    template<typename T, std::size_t N>
    const T &pick(const std::array<T, N> &items)
    {
        return items[next() % N];
    }

private:
    quint64 state;
};

using Words = std::string_view;

constexpr std::array<Words, 24> FirstNames = {
    "Anna", "Ben", "Clara", "David", "Elena", "Felix", "Greta", "Hugo", "Ines", "Jonas", "Katrin", "Lukas",
    "Mara", "Niklas", "Olivia", "Paul", "Rosa", "Simon", "Tanja", "Uwe", "Vera", "Walter", "Yasmin", "Zoe",
};
constexpr std::array<Words, 20> LastNames = {
    "Albers", "Brandt", "Carstens", "Dietrich", "Engel", "Fischer", "Hartmann", "Jansen", "Keller", "Lorenz",
    "Meyer", "Neumann", "Otten", "Peters", "Richter", "Schulz", "Thiele", "Vogt", "Weber", "Ziegler",
};
constexpr std::array<Words, 10> Domains = {
    "example.org", "example.com", "example.net", "harbour-works.example", "northfield.example",
    "mail.example.org", "lists.example.net", "uni-example.edu", "studio-vogt.example", "kontor.example",
};
constexpr std::array<Words, 7> WeekDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday",
};
constexpr std::array<Words, 7> ShortDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<Words, 12> ShortMonths = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
};
constexpr std::array<Words, 16> Topics = {
    "Meeting notes", "Quarterly report", "Draft proposal", "Project timeline", "Budget review",
    "Travel plans", "Photos from the weekend", "Server maintenance tonight", "Team lunch",
    "Holiday schedule", "Contract renewal", "Website relaunch", "Invoice", "Shipping update",
    "Board agenda", "Workshop feedback",
};
constexpr std::array<Words, 12> Sentences = {
    "Thanks for sending the figures so quickly.",
    "I have attached the latest version for your review.",
    "Could you have a look before Thursday?",
    "The numbers for the third quarter look better than expected.",
    "We still need a decision on the venue.",
    "Let me know if anything is missing.",
    "I talked to the supplier this morning and they can deliver next week.",
    "Please keep this between us until the announcement.",
    "The printer on the second floor is broken again.",
    "Maybe we can discuss the details over coffee.",
    "I will be out of the office from Monday to Wednesday.",
    "The new schedule is on the shared drive.",
};
constexpr std::array<Words, 8> SpamSubjects = {
    "*** You have WON a brand new car ***", "URGENT: your account will be suspended",
    "Cheap watches - 90% OFF today only!!!", "Make $5000 a week from home",
    "Re: your invoice is overdue", "Congratulations! Claim your prize now",
    "Lose 10 kg in 10 days", "Exclusive offer for selected customers",
};
constexpr std::array<Words, 6> SpamSenders = {
    "winner@lottery-prize.example", "security@paypa1-support.example", "deals@cheap-watch.example",
    "noreply@best-offers.example", "info@diet-miracle.example", "service@bank-verify.example",
};
constexpr std::array<Words, 5> AttachmentNames = {
    "report.pdf", "photo.jpg", "invoice-2024.pdf", "slides.pptx", "budget.xlsx",
};
constexpr std::array<Words, 5> AttachmentTypes = {
    "application/pdf", "image/jpeg", "application/pdf",
    "application/vnd.openxmlformats-officedocument.presentationml.presentation",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
};
// Raw 8-bit header text, as some mail programs still send it.
constexpr std::array<Words, 4> EightBitSubjects = {
    "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln \xE2\x80\x93 Treffen am Freitag",
    "R\xC3\xA9sum\xC3\xA9 et lettre de motivation",
    "Caf\xE9 am Mittwoch?",             // Latin-1
    "\xC3\x84nderung der \xC3\x96" "ffnungszeiten",
};
struct Named {
    Words name;
    Words address;
};
constexpr std::array<Named, 4> EightBitSenders = {{
    {"J\xC3\xBCrgen M\xC3\xBCller", "j.mueller@kontor.example"},
    {"Ren\xE9 Fran\xE7ois", "rene.francois@example.net"}, // Latin-1
    {"Bj\xC3\xB6rk Sigur\xC3\xB0" "ard\xC3\xB3ttir", "bjork@example.org"},
    {"Zo\xC3\xAB Stra\xC3\x9F" "er", "zoe.strasser@northfield.example"},
}};
// Encoded header texts and what their authors wrote (UTF-8).
struct Encoded {
    Words encoded;
    Words readable;
};
constexpr std::array<Encoded, 5> EncodedSubjects = {{
    // Folded as mailers fold a long subject: a second word, in another
    // charset, on a continuation line.
    {"=?UTF-8?Q?Protokoll_der_Sitzung_vom_Dienstag_=E2=80=93_bitte_bis_Freitag?=\n"
     " =?ISO-8859-1?Q?_pr=FCfen_und_erg=E4nzen?=",
     "Protokoll der Sitzung vom Dienstag \xE2\x80\x93 bitte bis Freitag pr\xC3\xBC"
     "fen und erg\xC3\xA4nzen"},
    {"=?ISO-8859-1?Q?Einladung_zur_Sitzung_am_Dienstag_=E4ndern?=", "Einladung zur Sitzung am Dienstag \xC3\xA4ndern"},
    {"=?UTF-8?Q?Caf=C3=A9_=E2=98=95_und_Kuchen?= am Nachmittag", "Caf\xC3\xA9 \xE2\x98\x95 und Kuchen am Nachmittag"},
    {"=?utf-8?b?0J/RgNC40LLQtdGCINC40Lcg0JzQvtGB0LrQstGL?=",
     "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xB8\xD0\xB7 "
     "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD1\x8B"},
    {"=?UTF-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4=?=", "Gr\xC3\xBC\xC3\x9F"
                                                 "e aus M\xC3\xBCnchen"},
}};
constexpr std::array<Encoded, 4> EncodedSenderNames = {{
    {"=?ISO-8859-1?Q?J=F6rg_M=FCller?=", "J\xC3\xB6rg M\xC3\xBCller"},
    {"=?UTF-8?B?U8O4cmVuIEvDuGxzdGVk?=", "S\xC3\xB8ren K\xC3\xB8lsted"},
    {"=?UTF-8?Q?Fran=C3=A7oise_L=C3=A9ger?=", "Fran\xC3\xA7oise L\xC3\xA9ger"},
    {"=?utf-8?q?=C3=85sa_Lindstr=C3=B6m?=", "\xC3\x85sa Lindstr\xC3\xB6m"},
}};
constexpr std::array<Words, 4> EncodedSenderAddresses = {
    "joerg.mueller@example.com",
    "soren@harbour-works.example",
    "f.leger@example.net",
    "asa.lindstrom@uni-example.edu",
};
// Mailing lists: display name, sender address, list id.
struct List {
    Words name;
    Words address;
    Words id;
};
constexpr std::array<List, 5> NewsletterLists = {{
    {"Harbour Works Weekly", "news@harbour-works.example", "weekly.harbour-works.example"},
    {"Northfield Garden Club", "club@northfield.example", "members.northfield.example"},
    {"Example Shop Deals", "deals@shop.example.com", "deals.shop.example.com"},
    {"Studio Vogt Newsletter", "newsletter@studio-vogt.example", "news.studio-vogt.example"},
    {"Campus News", "campus-news@uni-example.edu", "campus-news.uni-example.edu"},
}};
constexpr std::array<Words, 6> NewsletterTopics = {
    "This week: five things you missed", "Your monthly update", "New arrivals and autumn sale",
    "Events calendar for next month", "Tips, stories and a short survey", "What's new in our workshop",
};

constexpr std::array<Words, 3> DotSubjects = {
    "Config files: .profile and friends", "...and one more thing", "Notes on the .htaccess change",
};

QByteArray bytes(Words words)
{
    return QByteArray(words.data(), qsizetype(words.size()));
}

struct Person {
    QByteArray name;
    QByteArray address;
};

Person person(Random &rng)
{
    const Words first = rng.pick(FirstNames);
    const Words last = rng.pick(LastNames);
    const QByteArray address = bytes(first).toLower() + '.' + bytes(last).toLower() + '@' + bytes(rng.pick(Domains));
    return {bytes(first) + ' ' + bytes(last), address};
}

QByteArray mailbox(const QByteArray &name, const QByteArray &address)
{
    return name.isEmpty() ? address : name + " <" + address + '>';
}

// RFC 2822 date in a fixed +0100 zone, independent of the machine's locale and zone.
QByteArray rfcDate(qint64 utcSeconds)
{
    const qint64 local = utcSeconds + 3600;
    const QDate day = QDate(1970, 1, 1).addDays(local / 86400);
    const qint64 secs = local % 86400;
    return bytes(ShortDays[std::size_t(day.dayOfWeek() - 1)]) + ", "
        + QByteArray::number(day.day()).rightJustified(2, '0') + ' '
        + bytes(ShortMonths[std::size_t(day.month() - 1)]) + ' ' + QByteArray::number(day.year()) + ' '
        + QByteArray::number(secs / 3600).rightJustified(2, '0') + ':'
        + QByteArray::number(secs / 60 % 60).rightJustified(2, '0') + ':'
        + QByteArray::number(secs % 60).rightJustified(2, '0') + " +0100";
}

QByteArray hex(Random &rng, int digits)
{
    QByteArray out = QByteArray::number(rng.next(), 16).rightJustified(16, '0');
    return out.left(digits);
}

QByteArray paragraph(Random &rng, int sentences)
{
    QByteArray out;
    for (int i = 0; i < sentences; ++i) {
        if (i > 0)
            out += (i % 2 == 0) ? "\n" : " ";
        out += bytes(rng.pick(Sentences));
    }
    return out + '\n';
}

QByteArray prose(Random &rng, const QByteArray &to, const Person &from)
{
    const QByteArray &signature = from.name;
    QByteArray body = "Hi " + to + ",\n\n";
    const int paragraphs = rng.between(1, 4);
    for (int i = 0; i < paragraphs; ++i)
        body += paragraph(rng, rng.between(1, 5)) + '\n';
    body += "Best regards,\n" + signature + "\n\n-- \n" + signature + '\n'
        + from.address.mid(from.address.indexOf('@') + 1) + '\n';
    return body;
}

QByteArray base64Lines(Random &rng, int rawSize)
{
    // Bulk bytes come from Qt's generator: seeded, it is reproducible too, and
    // fast even in a debug build.
    QList<quint32> raw((rawSize + 3) / 4);
    QRandomGenerator(quint32(rng.next())).fillRange(raw.data(), raw.size());
    const QByteArray encoded =
        QByteArray::fromRawData(reinterpret_cast<const char *>(raw.constData()), rawSize).toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 + 1);
    for (qsizetype at = 0; at < encoded.size(); at += 76) {
        out.append(encoded.constData() + at, qMin<qsizetype>(76, encoded.size() - at));
        out.append('\n');
    }
    return out;
}

QByteArray topicSubject(Random &rng)
{
    QByteArray subject = bytes(rng.pick(Topics));
    switch (rng.between(0, 3)) {
    case 0:
        subject += " for " + bytes(rng.pick(WeekDays));
        break;
    case 1:
        subject += " #" + QByteArray::number(rng.between(1000, 99999));
        break;
    case 2:
        subject += " v" + QByteArray::number(rng.between(2, 9));
        break;
    default:
        break;
    }
    return subject;
}

} // namespace

MailboxGenerator::MailboxGenerator(const QString &maildir) : dir(maildir)
{
}

bool MailboxGenerator::prepare(QString *whyNot)
{
    const QDir root;
    for (const QString &path : {dir, folderPath(Folder::Cur), folderPath(Folder::New), dir + QStringLiteral("/tmp")}) {
        if (!QFileInfo(path).isDir() && !root.mkdir(path, DirMode)) {
            if (whyNot)
                *whyNot = QStringLiteral("cannot create %1").arg(path);
            return false;
        }
    }
    return true;
}

QString MailboxGenerator::writeMessage(const QByteArray &raw, Folder folder)
{
    if (sequence < 0 && !prepare())
        return {};
    // Straight into the folder, without the tmp/ step of a delivery agent: a
    // session that starts after this returns sees the whole file, and the few
    // system calls keep large mailboxes quick to make.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString name = fileName(nextSequence(), raw, folder);
        QFile file(folderPath(folder) + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, FileMode)) {
            if (file.exists())
                continue; // someone else's message; take the next name
            return {};
        }
        if (file.write(raw) == raw.size() && file.flush())
            return name;
        file.close();
        file.remove();
        return {};
    }
    return {};
}

QStringList MailboxGenerator::writeMessages(int count, quint32 seed, Folder folder)
{
    QStringList names;
    names.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString name = writeMessage(message(seed, i), folder);
        if (name.isEmpty())
            break;
        names.append(name);
    }
    return names;
}

MailboxGenerator::Kind MailboxGenerator::kindOf(quint32 seed, int index)
{
    const quint64 slot = (quint64(seed) + quint64(quint32(index)));
    if (slot % 100 == LargeSlot)
        return Kind::Large;
    return Schedule[slot % Schedule.size()];
}

QByteArray MailboxGenerator::message(quint32 seed, int index)
{
    Random rng(seed, index);
    const Kind kind = kindOf(seed, index);

    const Person to{"Tarnbeck Tester", "tester@tarnbeck.test"};
    Person from = person(rng);
    QByteArray fromName = from.name;
    QByteArray subject = topicSubject(rng);
    QByteArray contentType = "text/plain; charset=us-ascii";
    QByteArray encoding = "7bit";
    QByteArray extra;
    QByteArray body;
    const qint64 sent = DateEpoch + qint64(index) * 2400 + rng.between(0, 2000);

    switch (kind) {
    case Kind::Plain:
        body = prose(rng, "Tester", from);
        break;
    case Kind::Reply: {
        subject = "Re: " + subject;
        const QByteArray original = '<' + hex(rng, 12) + '@' + bytes(rng.pick(Domains)) + '>';
        extra += "In-Reply-To: " + original + "\nReferences: " + original + '\n';
        body = paragraph(rng, rng.between(1, 3)) + "\nOn " + rfcDate(sent - rng.between(3600, 86400 * 3))
            + ", Tarnbeck Tester wrote:\n";
        const QByteArray quoted = paragraph(rng, rng.between(2, 5));
        for (const QByteArray &line : quoted.split('\n')) {
            if (!line.isEmpty())
                body += "> " + line + '\n';
        }
        body += "\n-- \n" + from.name + '\n';
        break;
    }
    case Kind::Spam: {
        subject = bytes(rng.pick(SpamSubjects));
        from.address = bytes(rng.pick(SpamSenders));
        fromName = rng.chance(50) ? QByteArray("Customer Service") : QByteArray();
        contentType = "text/html; charset=us-ascii";
        if (rng.chance(60))
            extra += "X-Spam-Flag: YES\nX-Spam-Status: Yes, score=" + QByteArray::number(rng.between(6, 15)) + '.'
                + QByteArray::number(rng.between(0, 9)) + " required=5.0\n";
        const QByteArray link = "http://" + hex(rng, 8) + ".click.example/offer?id=" + QByteArray::number(index);
        body = "<html><body>\n<h1>" + subject + "</h1>\n<p>Dear customer, this offer ends TODAY.</p>\n"
               "<p><a href=\"" + link + "\">CLICK HERE</a> to claim it.</p>\n"
               "<p style=\"font-size:8px\">To unsubscribe write to " + from.address + "</p>\n</body></html>\n";
        break;
    }
    case Kind::Attachment:
    case Kind::Large: {
        const std::size_t which = std::size_t(rng.between(0, int(AttachmentNames.size()) - 1));
        const QByteArray boundary = "----=_Part_" + hex(rng, 12);
        const int size = kind == Kind::Large ? rng.between(100, 250) * 1024 : rng.between(1, 12) * 1024;
        if (kind == Kind::Large)
            subject = "Large file: " + bytes(AttachmentNames[which]);
        contentType = "multipart/mixed; boundary=\"" + boundary + '"';
        encoding.clear();
        body = "This is a multi-part message in MIME format.\n\n--" + boundary
            + "\nContent-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n\n"
            + prose(rng, "Tester", from) + "\n--" + boundary + "\nContent-Type: "
            + bytes(AttachmentTypes[which]) + "; name=\"" + bytes(AttachmentNames[which])
            + "\"\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\""
            + bytes(AttachmentNames[which]) + "\"\n\n" + base64Lines(rng, size) + "\n--" + boundary + "--\n";
        break;
    }
    case Kind::Newsletter: {
        // Bulk mail from a list: a plain and an HTML version of the same text.
        const List &list = rng.pick(NewsletterLists);
        fromName = bytes(list.name);
        from.address = bytes(list.address);
        subject = fromName + ": " + bytes(rng.pick(NewsletterTopics));
        const QByteArray unsubscribe = "https://" + bytes(list.id) + "/unsubscribe?u=" + hex(rng, 10);
        extra += "List-Id: " + fromName + " <" + bytes(list.id) + ">\nList-Unsubscribe: <" + unsubscribe
            + ">\nPrecedence: bulk\n";
        const QByteArray boundary = "=_news_" + hex(rng, 12);
        contentType = "multipart/alternative; boundary=\"" + boundary + '"';
        encoding.clear();
        const QByteArray text = paragraph(rng, rng.between(3, 6));
        body = "--" + boundary + "\nContent-Type: text/plain; charset=us-ascii\n\n" + subject + "\n\n" + text
            + "\nUnsubscribe: " + unsubscribe + "\n\n--" + boundary
            + "\nContent-Type: text/html; charset=us-ascii\n\n<html><body>\n<h2>" + subject + "</h2>\n<p>" + text
            + "</p>\n<p><a href=\"" + unsubscribe + "\">Unsubscribe</a></p>\n</body></html>\n\n--" + boundary
            + "--\n";
        break;
    }
    case Kind::DotLines:
        // Lines a POP3 server must dot-stuff, including one that is a lone dot.
        subject = bytes(rng.pick(DotSubjects));
        body = "Hi Tester,\n\nhere are the steps:\n.\n..\n.profile goes into your home directory\n"
               "...and then log in again.\n. (that was a lone dot)\n.\n\n"
            + paragraph(rng, 2) + "\n-- \n" + from.name + "\n.\n";
        break;
    case Kind::EightBitHeader: {
        subject = bytes(rng.pick(EightBitSubjects));
        const Named &sender = rng.pick(EightBitSenders);
        fromName = bytes(sender.name);
        from.address = bytes(sender.address);
        contentType = "text/plain; charset=utf-8";
        encoding = "8bit";
        body = "Hallo Tester,\n\nbis Freitag im Caf\xC3\xA9 \xE2\x80\x93 sch\xC3\xB6nen Gru\xC3\x9F!\n\n"
            + paragraph(rng, 2);
        break;
    }
    case Kind::EncodedHeader: {
        subject = bytes(rng.pick(EncodedSubjects).encoded);
        const auto sender = std::size_t(rng.next() % EncodedSenderNames.size());
        fromName = bytes(EncodedSenderNames[sender].encoded);
        from.address = bytes(EncodedSenderAddresses[sender]);
        contentType = "text/plain; charset=utf-8";
        encoding = "quoted-printable";
        body = "Sch=C3=B6ne Gr=C3=BC=C3=9Fe,\n\n" + paragraph(rng, 3);
        break;
    }
    }

    const QByteArray date = rfcDate(sent);
    QByteArray head;
    head.reserve(600);
    head += "Return-Path: <" + from.address + ">\n";
    head += "Received: from mail." + from.address.mid(from.address.indexOf('@') + 1) + " (mail.example [192.0.2."
        + QByteArray::number(rng.between(1, 254)) + "])\n\tby mx.tarnbeck.test with ESMTPS id " + hex(rng, 10)
        + "\n\tfor <" + to.address + ">; " + date + '\n';
    head += "Message-ID: <" + hex(rng, 16) + '.' + QByteArray::number(index) + '@'
        + from.address.mid(from.address.indexOf('@') + 1) + ">\n";
    head += "Date: " + date + '\n';
    head += "From: " + mailbox(fromName, from.address) + '\n';
    head += "To: " + mailbox(to.name, to.address) + '\n';
    if (kind == Kind::Plain && rng.chance(25)) {
        const Person copy = person(rng);
        head += "Cc: " + mailbox(copy.name, copy.address) + '\n';
    }
    head += "Subject: " + subject + '\n';
    head += extra;
    head += "MIME-Version: 1.0\n";
    head += "Content-Type: " + contentType + '\n';
    if (!encoding.isEmpty())
        head += "Content-Transfer-Encoding: " + encoding + '\n';
    return head + '\n' + body;
}

QByteArray MailboxGenerator::headerValue(const QByteArray &raw, const QByteArray &name)
{
    qsizetype at = 0;
    while (at < raw.size()) {
        qsizetype end = raw.indexOf('\n', at);
        if (end < 0)
            end = raw.size();
        QByteArray line = raw.mid(at, end - at);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            return {};
        const qsizetype colon = line.indexOf(':');
        if (colon == name.size() && line.left(colon).compare(name, Qt::CaseInsensitive) == 0) {
            QByteArray value = line.mid(colon + 1);
            // Continuation lines start with white space.
            qsizetype next = end + 1;
            while (next < raw.size() && (raw.at(next) == ' ' || raw.at(next) == '\t')) {
                qsizetype stop = raw.indexOf('\n', next);
                if (stop < 0)
                    stop = raw.size();
                QByteArray more = raw.mid(next, stop - next);
                if (more.endsWith('\r'))
                    more.chop(1);
                value += ' ' + more.trimmed();
                next = stop + 1;
            }
            return value.trimmed();
        }
        at = end + 1;
    }
    return {};
}

QString MailboxGenerator::readableText(const QByteArray &value)
{
    QByteArray text = value;
    const auto replace = [&text](Words encoded, Words readable) {
        // As headerValue unfolds: the line break and the continuation's
        // leading blanks become one blank.
        QByteArray key = bytes(encoded);
        key.replace("\n ", " ");
        text.replace(key, bytes(readable));
    };
    for (const Encoded &subject : EncodedSubjects)
        replace(subject.encoded, subject.readable);
    for (const Encoded &name : EncodedSenderNames)
        replace(name.encoded, name.readable);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8(text);
    return utf8.hasError() ? QString::fromLatin1(text) : decoded;
}

qint64 MailboxGenerator::virtualSize(const QByteArray &raw)
{
    qint64 size = raw.size();
    for (qsizetype i = raw.indexOf('\n'); i >= 0; i = raw.indexOf('\n', i + 1)) {
        if (i == 0 || raw.at(i - 1) != '\r')
            ++size;
    }
    return size;
}

QString MailboxGenerator::fileName(qint64 sequence, const QByteArray &raw, Folder folder)
{
    QString name = QStringLiteral("%1.M%2P%3.tarnbeck,S=%4,W=%5")
                       .arg(NameEpoch + sequence)
                       .arg(sequence % 1000000)
                       .arg(4242)
                       .arg(raw.size())
                       .arg(virtualSize(raw));
    if (folder == Folder::Cur)
        name += QStringLiteral(":2,");
    return name;
}

QString MailboxGenerator::folderPath(Folder folder) const
{
    return dir + (folder == Folder::Cur ? QStringLiteral("/cur") : QStringLiteral("/new"));
}

qint64 MailboxGenerator::nextSequence()
{
    if (sequence < 0) {
        // Continue after whatever is already there, so new mail sorts last.
        sequence = 0;
        for (const Folder folder : {Folder::Cur, Folder::New}) {
            const QStringList names = QDir(folderPath(folder)).entryList(QDir::Files);
            for (const QString &name : names) {
                bool ok = false;
                const qint64 stamp = name.section(QLatin1Char('.'), 0, 0).toLongLong(&ok);
                if (ok && stamp - NameEpoch > sequence)
                    sequence = stamp - NameEpoch;
            }
        }
    }
    return ++sequence;
}
