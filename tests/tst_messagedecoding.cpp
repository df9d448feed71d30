// SPDX-License-Identifier: GPL-3.0-or-later
// A message made readable (DecodeMessage, HtmlToText) and the lines a read
// shows undecoded (ReadView), over a corpus of messages as real senders
// write them, the demo generator's messages and a real Dovecot's TOP.

#include "session/HtmlText.h"
#include "session/MessageDecoding.h"
#include "session/ReadView.h"
#include "support/DovecotServer.h"
#include "support/MailboxGenerator.h"
#include "support/MessageFiles.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

namespace {

QList<QByteArray> lines(std::initializer_list<const char *> texts)
{
    QList<QByteArray> out;
    for (const char *text : texts)
        out.append(QByteArray(text));
    return out;
}

// A tiny POP3 client that waits for each reply: enough to ask a real server
// what it answers.
class Pop3Client {
public:
    bool open(const DovecotServer &server)
    {
        socket.connectToHost(server.address(), server.port());
        return socket.waitForConnected(5000) && status().startsWith("+OK") &&
               command("USER " + server.user().toUtf8()).startsWith("+OK") &&
               command("PASS " + server.password().toUtf8()).startsWith("+OK");
    }
    QByteArray command(const QByteArray &line)
    {
        socket.write(line + "\r\n");
        return status();
    }
    // A multi-line reply's lines, dot stuffing undone; empty after "-ERR".
    QList<QByteArray> multiLine(const QByteArray &line)
    {
        QList<QByteArray> out;
        if (!command(line).startsWith("+OK"))
            return out;
        for (;;) {
            const QByteArray next = readLine();
            if (next == "." || !socket.isOpen())
                return out;
            out.append(next.startsWith("..") ? next.mid(1) : next);
        }
    }

private:
    QByteArray status() { return readLine(); }
    QByteArray readLine()
    {
        while (!socket.canReadLine()) {
            if (!socket.waitForReadyRead(5000))
                return {};
        }
        QByteArray line = socket.readLine();
        line.chop(line.endsWith("\r\n") ? 2 : 1);
        return line;
    }
    QTcpSocket socket;
};

const QStringList Corpus = {
    QStringLiteral("qp-utf8-soft-breaks"), QStringLiteral("base64-latin1"),    QStringLiteral("alternative"),
    QStringLiteral("html-only"),           QStringLiteral("mixed-pdf-nested"), QStringLiteral("broken-base64"),
    QStringLiteral("unknown-charset"),     QStringLiteral("iso-2022-jp"),
};

}  // namespace

class MessageDecodingTest : public QObject {
    Q_OBJECT
private slots:
    void corpus_data();
    void corpus();
    void structure_data();
    void structure();
    void generatorMessagesReadAsWritten();
    void limitsHold();
    void htmlToText_data();
    void htmlToText();
    void htmlStaysLinear();
    void readView_data();
    void readView();
    void topReplyIsWhole_data();
    void topReplyIsWhole();
    void dovecotTopIsTopLines();
};

// Each message of tests/data/mime/ against the text a reader must see
// (the .txt next to it); "cut" reads only what `TOP n 100` brings.
void MessageDecodingTest::corpus_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("expected");
    for (const QString &name : Corpus)
        QTest::newRow(qPrintable(name)) << name << false << name + QStringLiteral(".txt");
    QTest::newRow("mixed-pdf-nested, cut")
        << QStringLiteral("mixed-pdf-nested") << true << QStringLiteral("mixed-pdf-nested.cut.txt");
}

void MessageDecodingTest::corpus()
{
    QFETCH(QString, name);
    QFETCH(bool, cut);
    QFETCH(QString, expected);
    QList<QByteArray> message = messageLines(testDataFile(QStringLiteral("mime/") + name + QStringLiteral(".eml")));
    QVERIFY(message.size() > 10);
    if (cut)
        message = TopLines(message, ReadBodyLines);
    const QString text = DecodeMessage(message, cut);
    const QString wanted = QString::fromUtf8(testDataFile(QStringLiteral("mime/") + expected));
    if (text != wanted) {
        // Line by line, so a failure names the first line that differs.
        const QStringList got = text.split(u'\n');
        const QStringList want = wanted.split(u'\n');
        for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
            QCOMPARE(got.at(i), want.at(i));
        QCOMPARE(got.size(), want.size());
    }
}

// The rules one at a time, in small messages: which part is shown, what is
// listed, and what is shown as received.
void MessageDecodingTest::structure_data()
{
    QTest::addColumn<QList<QByteArray>>("message");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no MIME header, Latin-1 bytes")
        << lines({"Subject: caf\xe9", "", "caf\xe9 cr\xe8me"}) << false
        << QString::fromUtf8("Subject: caf\xc3\xa9\n\ncaf\xc3\xa9 cr\xc3\xa8me\n");
    QTest::newRow("no charset, UTF-8 bytes") << lines({"Content-Type: text/plain", "", "gr\xc3\xbc\xc3\x9f"}) << false
                                             << QString::fromUtf8("gr\xc3\xbc\xc3\x9f\n");
    QTest::newRow("header only") << lines({"From: a@example.org", "Subject: hi"}) << false
                                 << QStringLiteral("From: a@example.org\nSubject: hi\n");
    QTest::newRow("fields in their order, folded and decoded")
        << lines({"Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=", "cc: c@example.org", "To: b@example.org,", "\td@example.org",
                  "X-Other: x", "From: a@example.org", "Date: Sun, 1 Mar 2026 10:00:00 +0000", "Subject: second", "",
                  "body"})
        << false
        << QString::fromUtf8("Date: Sun, 1 Mar 2026 10:00:00 +0000\nFrom: a@example.org\n"
                             "To: b@example.org, d@example.org\nCc: c@example.org\nSubject: Gr\xc3\xbc\xc3\x9f"
                             "e\n\nbody\n");
    QTest::newRow("alternative: plain first even when it comes last")
        << lines({"Content-Type: multipart/alternative; boundary=b", "", "--b", "Content-Type: text/html", "",
                  "<p>the html</p>", "--b", "Content-Type: text/plain", "", "the plain text", "--b--"})
        << false << QStringLiteral("the plain text\n");
    QTest::newRow("alternative: an empty plain part gives way to the html")
        << lines({"Content-Type: multipart/alternative; boundary=b", "", "--b", "Content-Type: text/plain", "", "  ",
                  "--b", "Content-Type: text/html", "", "<p>the html</p>", "--b--"})
        << false << QStringLiteral("the html\n");
    QTest::newRow("alternative: html in a related part, its image listed")
        << lines({"Content-Type: multipart/alternative; boundary=a", "", "--a",
                  "Content-Type: multipart/related; boundary=r", "", "--r", "Content-Type: text/html", "",
                  "<div>inline</div>", "--r", "Content-Type: image/png; name=logo.png",
                  "Content-Transfer-Encoding: base64", "", "iVBORw0KGgo=", "--r--", "--a--"})
        << false << QStringLiteral("inline\n\n[attachment: logo.png, image/png, 8 bytes]\n");
    QTest::newRow("mixed: the first text shown, a second text and an attached text listed")
        << lines({"Content-Type: multipart/mixed; boundary=\"m m\"", "", "preamble", "--m m", "", "first text", "--m m",
                  "Content-Type: text/plain", "", "footer", "--m m", "Content-Type: text/plain; name=\"notes.txt\"",
                  "Content-Disposition: attachment", "", "notes", "--m m--", "epilogue"})
        << false
        << QStringLiteral("first text\n\n[attachment: unnamed, text/plain, 6 bytes]\n"
                          "[attachment: notes.txt, text/plain, 5 bytes]\n");
    QTest::newRow("mixed: an attached text first is no body")
        << lines({"Content-Type: multipart/mixed; boundary=m", "", "--m", "Content-Type: text/plain; charset=utf-8",
                  "Content-Disposition: attachment; filename=a.txt", "", "attached", "--m", "Content-Type: text/plain",
                  "", "the body", "--m--"})
        << false << QStringLiteral("[attachment: a.txt, text/plain, 8 bytes]\n\nthe body\n");
    QTest::newRow("boundary parameter missing")
        << lines({"Content-Type: multipart/mixed", "", "--x", "", "text", "--x--"}) << false
        << QStringLiteral("[parts not found (bad boundary), shown as received]\n--x\n\ntext\n--x--\n");
    QTest::newRow("boundary never found")
        << lines({"Content-Type: multipart/mixed; boundary=\"real\"", "", "--other", "", "text", "--other--"}) << false
        << QStringLiteral("[parts not found (bad boundary), shown as received]\n--other\n\ntext\n--other--\n");
    QTest::newRow("only a closing delimiter")
        << lines({"Content-Type: multipart/mixed; boundary=b", "", "text in the preamble", "--b--"}) << false
        << QStringLiteral("[parts not found (bad boundary), shown as received]\ntext in the preamble\n--b--\n");
    QTest::newRow("delimiter with trailing blanks, no closing delimiter")
        << lines({"Content-Type: multipart/mixed; boundary=b", "", "--b  ", "", "kept", "--bb", "still kept"}) << false
        << QStringLiteral("kept\n--bb\nstill kept\n");
    QTest::newRow("part without header or empty line")
        << lines({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Hello there", "--b--"}) << false
        << QStringLiteral("Hello there\n");
    QTest::newRow("unknown transfer encoding shown as received")
        << lines({"Content-Type: text/plain", "Content-Transfer-Encoding: x-uuencode", "", "begin 644 a.txt", "#86)C",
                  "end"})
        << false
        << QStringLiteral("[part not decoded (unknown encoding \"x-uuencode\"), shown as received]\n"
                          "begin 644 a.txt\n#86)C\nend\n");
    QTest::newRow("base64 with data after its padding is broken")
        << lines({"Content-Transfer-Encoding: base64", "", "aGk=", "aGk="}) << false
        << QStringLiteral("[part not decoded (broken base64), shown as received]\naGk=\naGk=\n");
    QTest::newRow("base64 of an impossible length is broken")
        << lines({"Content-Transfer-Encoding: base64", "", "aGVsbG8gd"}) << false
        << QStringLiteral("[part not decoded (broken base64), shown as received]\naGVsbG8gd\n");
    QTest::newRow("base64 without padding, in a cut message its last group lost")
        << lines({"Content-Transfer-Encoding: BASE64", "", "aGVsbG8gd29y", "bGQh", "aGVsbG8gd"}) << true
        << QStringLiteral("hello world!hello\n\n[message cut here: the rest was not fetched]\n");
    QTest::newRow("quoted-printable: soft breaks, lower-case hex, a stray =")
        << lines({"Content-Transfer-Encoding: quoted-printable", "", "a=3db=3Dc =", "joined=20", "x =G1 y=", ""})
        << false << QStringLiteral("a=b=c joined \nx =G1 y\n");
    QTest::newRow("windows-1252 quotes under a Latin-1 label")
        << lines({"Content-Type: text/plain; charset=ISO-8859-1", "", "\x93quoted\x94 \x80 5"}) << false
        << QString::fromUtf8("\xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac 5\n");
    QTest::newRow("declared UTF-8 that is not") << lines({"Content-Type: text/plain; charset=utf-8", "", "caf\xe9"})
                                                << false << QString::fromUtf8("caf\xc3\xa9\n");
    QTest::newRow("a charset that names a path is unknown")
        << lines({"Content-Type: text/plain; charset=\"/dev/zero\"", "", "text"}) << false
        << QStringLiteral("[unknown charset \"/dev/zero\", shown as received]\ntext\n");
    QTest::newRow("RFC 2231 continuations in UTF-8, a digest's default type")
        << lines({"Content-Type: multipart/digest; boundary=d", "", "--d", "", "Subject: first digest entry", "",
                  "body", "--d", "Content-Type: application/pdf",
                  "Content-Disposition: attachment; filename*0*=utf-8''Gr%C3%BC; filename*1=\"n e\";",
                  " filename*2*=%2Epdf", "Content-Transfer-Encoding: base64", "", "JVBERi0=", "--d--"})
        << false
        << QString::fromUtf8("[attachment: first digest entry, message/rfc822, %1 bytes]\n"
                             "[attachment: Gr\xc3\xbcn e.pdf, application/pdf, 5 bytes]\n")
               .arg(QByteArray("Subject: first digest entry\r\n\r\nbody").size());
    QTest::newRow("html entities and tags in a text/html message")
        << lines(
               {"Content-Type: text/html; charset=windows-1252", "", "<p>Caf\xe9 &amp; <b>bar</b></p><p>\x96 two</p>"})
        << false << QString::fromUtf8("Caf\xc3\xa9 & bar\n\n\xe2\x80\x93 two\n");
    QTest::newRow("control characters and CR in a text")
        << lines({"Content-Transfer-Encoding: quoted-printable", "", "a=00b=0Dc=0D=0Ad=07e"}) << false
        << QStringLiteral("ab\nc\nd e\n");
    QTest::newRow("too deep: the innermost multipart is listed")
        <<
        [] {
            QList<QByteArray> message;
            for (int level = 0; level <= MessageDecoding::MaxDepth; ++level) {
                message << "Content-Type: multipart/mixed; boundary=b" + QByteArray::number(level) << "";
                message << "--b" + QByteArray::number(level);
            }
            message << ""
                    << "deep text";
            return message;
        }()
        << false
        << QStringLiteral("[attachment: unnamed, multipart/mixed, %1 bytes]\n")
               .arg(QByteArray("--b16\r\n\r\ndeep text").size());
}

void MessageDecodingTest::structure()
{
    QFETCH(QList<QByteArray>, message);
    QFETCH(bool, cut);
    QFETCH(QString, expected);
    QCOMPARE(DecodeMessage(message, cut), expected);
}

// The demo mailbox's messages, read decoded, show what the generator wrote.
void MessageDecodingTest::generatorMessagesReadAsWritten()
{
    using Kind = MailboxGenerator::Kind;
    QSet<Kind> seen;
    for (int index = 0; index < 100; ++index) {
        const QByteArray raw = MailboxGenerator::message(7, index);
        const Kind kind = MailboxGenerator::kindOf(7, index);
        seen.insert(kind);
        const QString text = DecodeMessage(messageLines(raw), false);
        const auto field = [&](const char *name) {
            return QString::fromLatin1(name) + QStringLiteral(": ") +
                   MailboxGenerator::readableText(MailboxGenerator::headerValue(raw, name)) + u'\n';
        };
        const QString context = QStringLiteral("message %1:\n%2").arg(index).arg(text.left(2000));
        QVERIFY2(text.startsWith(QStringLiteral("Date: ") + MailboxGenerator::headerValue(raw, "Date") + u'\n' +
                                 field("From") + field("To")),
                 qPrintable(context));
        QVERIFY2(text.contains(field("Subject") + u'\n'), qPrintable(context));
        switch (kind) {
        case Kind::Spam:
            QVERIFY2(
                text.contains(QStringLiteral("Dear customer, this offer ends TODAY.\n\nCLICK HERE to claim it.")) &&
                    !text.contains(QStringLiteral("<p")),
                qPrintable(context));
            break;
        case Kind::Newsletter:
            // The plain part, not the HTML one.
            QVERIFY2(text.contains(QStringLiteral("\nUnsubscribe: https://")) && !text.contains(QStringLiteral("<h2>")),
                     qPrintable(context));
            break;
        case Kind::EncodedHeader:
            QVERIFY2(text.contains(QString::fromUtf8("\n\nSch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f"
                                                     "e,\n")),
                     qPrintable(context));
            break;
        case Kind::EightBitHeader:
            QVERIFY2(
                text.contains(QString::fromUtf8("bis Freitag im Caf\xc3\xa9 \xe2\x80\x93 sch\xc3\xb6nen Gru\xc3\x9f!")),
                qPrintable(context));
            break;
        case Kind::DotLines:
            QVERIFY2(text.contains(QStringLiteral("\n.\n..\n.profile goes into your home directory\n")),
                     qPrintable(context));
            break;
        case Kind::Attachment:
        case Kind::Large: {
            const QRegularExpressionMatch type =
                QRegularExpression(QStringLiteral("Content-Type: ([a-z]+/[-a-z.]+); name="))
                    .match(QString::fromLatin1(raw));
            const QRegularExpressionMatch name =
                QRegularExpression(QStringLiteral("filename=\"([^\"]+)\"")).match(QString::fromLatin1(raw));
            const QByteArray encoded = raw.mid(raw.indexOf("\n\n", raw.indexOf("filename=")) + 2);
            const qsizetype size =
                QByteArray::fromBase64(encoded.left(encoded.indexOf("\n--")).replace('\n', QByteArray())).size();
            QVERIFY(name.hasMatch() && type.hasMatch() && size % 1024 == 0);
            QVERIFY2(text.contains(QStringLiteral("Best regards,\n")), qPrintable(context));
            QVERIFY2(text.contains(QStringLiteral("\n\n[attachment: %1, %2, %3.0 KB]\n")
                                       .arg(name.captured(1), type.captured(1))
                                       .arg(size / 1024)),
                     qPrintable(context));
            break;
        }
        case Kind::Plain:
        case Kind::Reply:
            QVERIFY2(!text.contains(QStringLiteral("[attachment")), qPrintable(context));
            break;
        }
    }
    QCOMPARE(seen.size(), 9);
}

// Hostile structure stays within the limits, and says where it stopped.
void MessageDecodingTest::limitsHold()
{
    // Nesting far past MaxDepth, each level with its own boundary.
    QList<QByteArray> deep;
    for (int level = 0; level < 20000; ++level)
        deep << "Content-Type: multipart/mixed; boundary=" + QByteArray::number(level) << ""
             << "--" + QByteArray::number(level);
    QCOMPARE(DecodeMessage(deep, false).count(QStringLiteral("[attachment:")), 1);

    // More parts than MaxParts: one line says so.
    QList<QByteArray> many{"Content-Type: multipart/mixed; boundary=p", ""};
    for (int part = 0; part < 200000; ++part)
        many << "--p"
             << "Content-Type: image/gif"
             << ""
             << "x";
    const QString parts = DecodeMessage(many, false);
    QCOMPARE(parts.count(QStringLiteral("[attachment:")), MessageDecoding::MaxParts - 1);
    QVERIFY(parts.endsWith(QStringLiteral("\n[more parts not shown]\n")));

    // A text part past MaxPartBytes: its start, and a line that says so.
    const QByteArray longLine(1024 * 1024, 'a');
    QList<QByteArray> huge{"Subject: long", ""};
    for (int i = 0; i < 20; ++i)
        huge << longLine;
    const QString text = DecodeMessage(huge, false);
    QVERIFY(text.size() <= MessageDecoding::MaxTextLength + 200);
    QVERIFY2(text.endsWith(QStringLiteral(" characters]\n")), qPrintable(text.right(100)));
    huge[0] = "Content-Transfer-Encoding: quoted-printable";
    QVERIFY(DecodeMessage(huge, false).size() <= MessageDecoding::MaxTextLength + 200);

    // A whole body of base64 in one line bigger than a part may be.
    const QByteArray base64 = QByteArray(MessageDecoding::MaxPartBytes + 3, 'b').toBase64();
    const QString decoded = DecodeMessage({"Content-Transfer-Encoding: base64", "", base64}, false);
    QVERIFY(decoded.size() <= MessageDecoding::MaxTextLength + 200);
    QVERIFY(decoded.startsWith(QStringLiteral("bbbb")));
}

void MessageDecodingTest::htmlToText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");

    QTest::newRow("blocks, breaks and blanks")
        << QStringLiteral(
               "<html><body>  one\n  two <p>para</p><div>a</div><div>b<br>c<br><br><br>d</div></body></html>")
        << QStringLiteral("one two\n\npara\n\na\nb\nc\n\nd");
    QTest::newRow("script, style, title, comments and declarations dropped")
        << QStringLiteral("<!DOCTYPE html><head><title>T</title><style>p{}</style></head><!-- c <p>x</p> -->"
                          "<script type=\"a>b\">if (a<b) x='</p>';</script ><SCRIPT>y</SCRIPT>shown<?php no ?>")
        << QStringLiteral("shown");
    QTest::newRow("a script without its end drops the rest")
        << QStringLiteral("before<script>after") << QStringLiteral("before");
    QTest::newRow("</scriptx> does not end a script")
        << QStringLiteral("<script>a</scriptx>b</script>c") << QStringLiteral("c");
    QTest::newRow("named and numeric references")
        << QStringLiteral("&lt;&gt;&amp;&quot;&apos;&nbsp;&eacute;&Eacute;&euro;&hellip;&#233;&#xE9;&#X1F600;"
                          "&#150;&#0;&#xD800;&#99999999999;&unknown;&;&#;& x")
        << QString::fromUtf8("<>&\"' \xc3\xa9\xc3\x89\xe2\x82\xac\xe2\x80\xa6\xc3\xa9\xc3\xa9\xf0\x9f\x98\x80"
                             "\xe2\x80\x93\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd&unknown;&;&#;& x");
    QTest::newRow("old names without a semicolon") << QStringLiteral("&copy2026 &amp x &ltb &notit")
                                                   << QString::fromUtf8("\xc2\xa9"
                                                                        "2026 & x <b \xc2\xacit");
    QTest::newRow("attributes may hold >")
        << QStringLiteral("<a title='x > y' href=\"a>b\">link</a> text") << QStringLiteral("link text");
    QTest::newRow("a < that starts no tag") << QStringLiteral("1 < 2 <3 <") << QStringLiteral("1 < 2 <3 <");
    QTest::newRow("lists, nested and numbered")
        << QStringLiteral("<ul><li>a<li>b<ol><li>one</li><li>two</li></ol></li></ul>after")
        << QString::fromUtf8("\xe2\x80\xa2 a\n\xe2\x80\xa2 b\n  1. one\n  2. two\n\nafter");
    QTest::newRow("pre keeps its blanks and breaks")
        << QStringLiteral("<pre>a  b\r\n\tc</pre>x  y") << QStringLiteral("a  b\n\tc\n\nx y");
    QTest::newRow("table rows on lines, cells apart")
        << QStringLiteral("<table><tr><td>a</td><td>b</td></tr><tr><th>c</th><td>&nbsp;</td></tr></table>")
        << QStringLiteral("a b\nc");
    QTest::newRow("no-break spaces do not collapse")
        << QStringLiteral("a&nbsp;&nbsp;b \xa0 c") << QStringLiteral("a  b   c");
}

void MessageDecodingTest::htmlToText()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(HtmlToText(html), text);
}

// Nesting that makes document models slow costs one pass here.
void MessageDecodingTest::htmlStaysLinear()
{
    for (const QString &open : {QStringLiteral("<table><tr><td>"), QStringLiteral("<ul><li>"),
                                QStringLiteral("<blockquote>"), QStringLiteral("<pre>")}) {
        const QString html = open.repeated(200000) + QStringLiteral("x");
        QElapsedTimer clock;
        clock.start();
        const QString text = HtmlToText(html);
        qInfo("%s nested 200,000 times: %lld ms", qPrintable(open), qint64(clock.elapsed()));
        QVERIFY(text.endsWith(u'x'));
        // List items add their indent and bullet: a few characters per tag.
        QVERIFY(text.size() <= 3 * html.size());
    }
}

void MessageDecodingTest::readView_data()
{
    QTest::addColumn<QList<QByteArray>>("message");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QList<QByteArray>>("shown");

    QList<QByteArray> long150{"Subject: x", ""};
    for (int i = 1; i <= 150; ++i)
        long150 << "line " + QByteArray::number(i);
    QTest::newRow("header and 100 body lines") << long150 << true << long150.first(102);
    QTest::newRow("lines of a TOP reply stay") << long150 << false << long150;
    QTest::newRow("a header without an empty line comes whole")
        << lines({"A: 1", "B: 2", "--x"}) << true << lines({"A: 1", "B: 2", "--x"});
    QTest::newRow("an empty first line ends the header") << lines({"", "a", "b"}) << true << lines({"", "a", "b"});
    QTest::newRow("a lone CR does not end the header")
        << lines({"A: 1", "\r", "b", ""}) << true << lines({"A: 1", "\r", "b", ""});
    QTest::newRow("the repeated boundary is the last line kept")
        << lines({"Content-Type: multipart/mixed; boundary=b", "", "preamble", "--b", "", "text", "--b", "attached",
                  "--b--"})
        << true << lines({"Content-Type: multipart/mixed; boundary=b", "", "preamble", "--b", "", "text", "--b"});
    QTest::newRow("the closing delimiter ends nothing")
        << lines({"", "--b", "x", "--b--", "y"}) << false << lines({"", "--b", "x", "--b--", "y"});
    QTest::newRow("the first line with -- is the boundary, wherever it is")
        << lines({"--odd: header", "", "--b", "--odd: header", "dropped"}) << false
        << lines({"--odd: header", "", "--b", "--odd: header"});
    QList<QByteArray> late{"Subject: x", ""};
    for (int i = 0; i < 100; ++i)
        late << "body";
    late << "--b"
         << "past the top"
         << "--b";
    QTest::newRow("a boundary past the 100 lines is not reached") << late << true << late.first(102);
}

void MessageDecodingTest::readView()
{
    QFETCH(QList<QByteArray>, message);
    QFETCH(bool, whole);
    QFETCH(QList<QByteArray>, shown);
    QCOMPARE(ReadViewLines(message, whole), shown);
    // Filtering twice is filtering once, so a read filtered already shows the same.
    QCOMPARE(ReadViewLines(shown, false), shown);
}

void MessageDecodingTest::topReplyIsWhole_data()
{
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<bool>("whole");

    QList<QByteArray> full{"Subject: x", ""};
    for (int i = 0; i < 99; ++i)
        full << "body";
    QTest::newRow("99 body lines") << full << true;
    QTest::newRow("100 body lines") << (QList<QByteArray>(full) << "one more") << false;
    QTest::newRow("no body") << lines({"Subject: x"}) << true;
    QTest::newRow("ends at a repeated boundary") << lines({"", "--b", "x", "--b"}) << false;
    QTest::newRow("ends at the closing delimiter") << lines({"", "--b", "x", "--b--"}) << true;
    QTest::newRow("one boundary line last") << lines({"", "x", "--b"}) << true;
}

void MessageDecodingTest::topReplyIsWhole()
{
    QFETCH(QList<QByteArray>, reply);
    QFETCH(bool, whole);
    QCOMPARE(TopReplyIsWhole(reply), whole);
}

// TopLines answers what a real server's `TOP n 100` does, for the corpus and
// the demo generator's messages, short and long.
void MessageDecodingTest::dovecotTopIsTopLines()
{
    QString why;
    if (!DovecotServer::isAvailable(&why))
        QSKIP(qPrintable(why));
    DovecotServer server;
    for (const QString &name : Corpus)
        QVERIFY(!server.addMessage(testDataFile(QStringLiteral("mime/") + name + QStringLiteral(".eml"))).isEmpty());
    // Odd headers: no body, no empty line, a lone CR line, a body of exactly 100 lines.
    QByteArray hundred = "Subject: hundred\n\n";
    for (int i = 0; i < 100; ++i)
        hundred += "line\n";
    for (const QByteArray &raw :
         {QByteArray("Subject: only a header\n"), QByteArray("Subject: cr\n\r\r\nbody\n\nmore\n"),
          QByteArray("\nno header\n"), hundred})
        QVERIFY(!server.addMessage(raw).isEmpty());
    const int generated = 40;
    server.addMessages(generated, 3);
    QVERIFY2(server.start(&why), qPrintable(why));

    Pop3Client client;
    QVERIFY(client.open(server));
    const int count = int(Corpus.size()) + 4 + generated;
    for (int n = 1; n <= count; ++n) {
        const QByteArray number = QByteArray::number(n);
        const QList<QByteArray> whole = client.multiLine("RETR " + number);
        const QList<QByteArray> top = client.multiLine("TOP " + number + " 100");
        QVERIFY2(!whole.isEmpty(), number.constData());
        QCOMPARE(TopLines(whole, ReadBodyLines), top);
        // A reply of exactly 100 body lines cannot tell; every other one can.
        if (top != whole)
            QVERIFY(!TopReplyIsWhole(top));
        else if (top.first() != "Subject: hundred")
            QVERIFY2(TopReplyIsWhole(top), number.constData());
        // Nor can a reply the attachment filter has cut.
        const QList<QByteArray> filtered = AttachmentFiltered(top);
        QCOMPARE(TopReplyIsWhole(filtered), filtered == top && TopReplyIsWhole(top));
    }
    client.command("QUIT");
}

QTEST_GUILESS_MAIN(MessageDecodingTest)
#include "tst_messagedecoding.moc"
