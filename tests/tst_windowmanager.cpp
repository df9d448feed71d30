// SPDX-License-Identifier: GPL-3.0-or-later
// The real program under a real window manager (Xvfb and openbox): X11
// frames a window only after it is mapped, and the stored size must still be
// the outer size and stay the same from one start to the next.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifndef TARNBECK_EXECUTABLE
#error "TARNBECK_EXECUTABLE names the program under test"
#endif

namespace {

struct Start {
    QSize outer;   // the window's frame, as the window manager reports it
    QSize stored;  // Width and Height in the settings file after the exit
};

// Ends a process started here: politely, then for sure.
void stop(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(3000)) {
        process->kill();
        process->waitForFinished(3000);
    }
}

QSize storedSize(const QString &iniPath)
{
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromLatin1(file.readAll());
    const auto value = [&text](const char *key) {
        const QRegularExpression pattern(QStringLiteral("^%1=(-?\\d+)\\r?$").arg(QLatin1String(key)),
                                         QRegularExpression::MultilineOption);
        const QRegularExpressionMatch match = pattern.match(text);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    };
    return QSize(value("Width"), value("Height"));
}

}  // namespace

class WindowManagerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void sizeStaysTheOuterSizeAcrossStarts();

private:
    QString output(const QString &tool, const QStringList &arguments, int *exitCode = nullptr);
    QString findWindow(qint64 pid);
    QSize outerSize(const QString &window);
    Start startAndClose(const QString &program);

    QProcessEnvironment environment;
    QTemporaryDir home;
    std::unique_ptr<QProcess> xserver;
    std::unique_ptr<QProcess> windowManager;
};

void WindowManagerTest::initTestCase()
{
    for (const char *tool : {"Xvfb", "openbox", "wmctrl", "xprop", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs Xvfb, openbox, wmctrl and x11-utils to run the program under a window manager");
    }
    QVERIFY(home.isValid());

    // The server picks a free display itself and writes its number.
    xserver = std::make_unique<QProcess>();
    xserver->setProcessChannelMode(QProcess::SeparateChannels);
    xserver->setStandardErrorFile(QProcess::nullDevice());
    xserver->start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                            QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                            QStringLiteral("tcp")});
    QVERIFY2(xserver->waitForStarted(5000), "Xvfb does not start");
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.endsWith('\n') && clock.elapsed() < 10000 && xserver->state() == QProcess::Running) {
        xserver->waitForReadyRead(200);
        number += xserver->readAllStandardOutput();
    }
    QVERIFY2(number.endsWith('\n'), "Xvfb names no display");

    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("XAUTHORITY"));
    // The window manager's defaults, not the settings of whoever runs this.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.path());

    windowManager = std::make_unique<QProcess>();
    windowManager->setProcessEnvironment(environment);
    windowManager->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    windowManager->setStandardOutputFile(QProcess::nullDevice());
    windowManager->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY2(windowManager->waitForStarted(5000), "openbox does not start");
    int running = -1;
    clock.restart();
    while (clock.elapsed() < 10000) {
        output(QStringLiteral("wmctrl"), {QStringLiteral("-m")}, &running);
        if (running == 0)
            break;
        QTest::qWait(100);
    }
    QVERIFY2(running == 0, "openbox does not manage the display");
}

void WindowManagerTest::cleanupTestCase()
{
    if (windowManager)
        stop(windowManager.get());
    if (xserver)
        stop(xserver.get());
}

QString WindowManagerTest::output(const QString &tool, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(tool, arguments);
    const bool finished = process.waitForFinished(5000);
    if (!finished)
        stop(&process);
    if (exitCode)
        *exitCode = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString WindowManagerTest::findWindow(qint64 pid)
{
    // wmctrl -l -p: id, desktop, pid, host, title.
    const QString list = output(QStringLiteral("wmctrl"), {QStringLiteral("-l"), QStringLiteral("-p")});
    for (const QString &line : list.split(QLatin1Char('\n'))) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() >= 3 && fields[2] == QString::number(pid))
            return fields[0];
    }
    return {};
}

QSize WindowManagerTest::outerSize(const QString &window)
{
    const QString extents =
        output(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_FRAME_EXTENTS")});
    const QRegularExpressionMatch frame =
        QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)")).match(extents);
    const QString info = output(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    const QRegularExpressionMatch width = QRegularExpression(QStringLiteral("Width: (\\d+)")).match(info);
    const QRegularExpressionMatch height = QRegularExpression(QStringLiteral("Height: (\\d+)")).match(info);
    if (!frame.hasMatch() || !width.hasMatch() || !height.hasMatch())
        return {};
    return QSize(width.captured(1).toInt() + frame.captured(1).toInt() + frame.captured(2).toInt(),
                 height.captured(1).toInt() + frame.captured(3).toInt() + frame.captured(4).toInt());
}

Start WindowManagerTest::startAndClose(const QString &program)
{
    Start start;
    QProcess tarnbeck;
    tarnbeck.setProcessEnvironment(environment);
    tarnbeck.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tarnbeck.start(program, {});
    if (!tarnbeck.waitForStarted(5000))
        return start;

    QString window;
    QElapsedTimer clock;
    clock.start();
    while (window.isEmpty() && clock.elapsed() < 20000 && tarnbeck.state() == QProcess::Running) {
        QTest::qWait(100);
        window = findWindow(tarnbeck.processId());
    }
    // Framed, then settled: the same outer size for half a second.
    QSize seen;
    int same = 0;
    while (!window.isEmpty() && same < 5 && clock.elapsed() < 30000) {
        QTest::qWait(100);
        const QSize now = outerSize(window);
        same = now.isValid() && now == seen ? same + 1 : 0;
        seen = now;
    }
    if (same == 5)
        start.outer = seen;

    // Closed the way a user closes it: through the window manager.
    if (!window.isEmpty())
        output(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window});
    const bool ended = tarnbeck.waitForFinished(15000);
    stop(&tarnbeck);
    if (ended && tarnbeck.exitStatus() == QProcess::NormalExit && tarnbeck.exitCode() == 0)
        start.stored = storedSize(QFileInfo(program).dir().filePath(QStringLiteral("Tarnbeck.ini")));
    return start;
}

void WindowManagerTest::sizeStaysTheOuterSizeAcrossStarts()
{
    // A copy in a folder of its own: the settings file lives next to it.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString program = folder.filePath(QStringLiteral("tarnbeck"));
    QVERIFY(QFile::copy(QStringLiteral(TARNBECK_EXECUTABLE), program));

    QList<Start> starts;
    for (int i = 1; i <= 3; ++i) {
        const Start start = startAndClose(program);
        qInfo("start %d: outer %dx%d, stored %dx%d", i, start.outer.width(), start.outer.height(),
              start.stored.width(), start.stored.height());
        QVERIFY2(start.outer.isValid(), "no framed window that settled");
        QVERIFY2(start.stored.isValid(), "no clean exit that stored the size");
        starts << start;
    }
    for (const Start &start : starts) {
        QCOMPARE(start.stored, start.outer);
        QCOMPARE(start.outer, starts.first().outer);
    }

    // A size the user chose, above the minimum, comes back as the outer size.
    {
        QFile ini(folder.filePath(QStringLiteral("Tarnbeck.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[Windows]\r\nMaximize=0\r\nHeight=500\r\nWidth=700\r\n");
    }
    const Start chosen = startAndClose(program);
    qInfo("chosen 700x500: outer %dx%d, stored %dx%d", chosen.outer.width(), chosen.outer.height(),
          chosen.stored.width(), chosen.stored.height());
    QCOMPARE(chosen.outer, QSize(700, 500));
    QCOMPARE(chosen.stored, QSize(700, 500));
}

QTEST_GUILESS_MAIN(WindowManagerTest)
#include "tst_windowmanager.moc"
