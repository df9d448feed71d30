// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TForm1.h"
#include "app/TarnbeckApplication.h"
#include "mailbox/MailListView.h"
#include "settings/PasswordScrambler.h"
#include "settings/SettingsPlace.h"
#include "support/DesktopStub.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

// The main window's settings file: what a start reads and an exit writes.
class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void noFileGivesDefaults();
    void roundTripThroughExitAndStart();
    void firstSaveWritesTheDocumentedLayout();
    void storedValuesAreReadByTheRules_data();
    void storedValuesAreReadByTheRules();
    void serversComeBackInFileOrder();
    void emptyServersSectionGivesBuiltIns();
    void handEditedFileSurvivesSave();
    void unwritableFileIsReportedOnceAtExit();
    void installedCopyKeepsSettingsInConfigFolder();
    void settingsPlaceRule();

private:
    std::unique_ptr<TForm1> startForm(const QString &appDir = QString());
    void writeFile(const QByteArray &content);
    QByteArray readFile() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DesktopStub> desktop;
};

void SettingsTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    desktop = std::make_unique<DesktopStub>();
    desktop->setScreenSize(QSize(1024, 768));
}

std::unique_ptr<TForm1> SettingsTest::startForm(const QString &appDir)
{
    auto form = std::make_unique<TForm1>();
    form->AppDir = appDir.isEmpty() ? dir->path() + QLatin1Char('/') : appDir;
    form->show();  // showing loads the settings
    return form;
}

void SettingsTest::writeFile(const QByteArray &content)
{
    QFile file(dir->filePath(QStringLiteral("Tarnbeck.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray SettingsTest::readFile() const
{
    QFile file(dir->filePath(QStringLiteral("Tarnbeck.ini")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SettingsTest::noFileGivesDefaults()
{
    auto form = startForm();
    QCOMPARE(form->size(), form->minimumSize());
    QVERIFY(!form->isMaximized());
    const QSize outer = form->frameGeometry().size();
    QCOMPARE(form->pos(), QPoint(512 - outer.width() / 2, 384 - outer.height() / 2));
    QStringList servers;
    for (int i = 0; i < form->txtServer->count(); ++i)
        servers << form->txtServer->itemText(i);
    QCOMPARE(servers, TForm1::BuiltInServers());
    QCOMPARE(servers.size(), 4);
    QCOMPARE(form->txtUID->text(), QString());
    QCOMPARE(form->txtPWD->text(), QString());
    QCOMPARE(form->txtServer->currentText(), QString());
    QCOMPARE(form->txtPort->text(), QStringLiteral("110"));
    // Raw header texts unless the file asks for decoded ones; the switch is
    // in the list's context menu from the start.
    QVERIFY(!form->DecodeHeaders1->isChecked());
    QVERIFY(!form->DecodeText);
    QVERIFY(form->DecodeHeaders1->isCheckable());
    QCOMPARE(form->DecodeHeaders1->text(), QStringLiteral("&Decode Headers"));
    QVERIFY(form->mailInfo->actions().contains(form->DecodeHeaders1));
    QCOMPARE(form->mailInfo->contextMenuPolicy(), Qt::ActionsContextMenu);
    // No header batch of its own unless the file asks for one; the switch
    // stands next to Decode Headers.
    QVERIFY(!form->AutoHeaders1->isChecked());
    QVERIFY(form->AutoHeaders1->isCheckable());
    QCOMPARE(form->AutoHeaders1->text(), QStringLiteral("Get Headers &Automatically"));
    QCOMPARE(form->mailInfo->actions().indexOf(form->AutoHeaders1),
             form->mailInfo->actions().indexOf(form->DecodeHeaders1) + 1);
}

void SettingsTest::roundTripThroughExitAndStart()
{
    {
        auto form = startForm();
        form->resize(700, 500);
        QCoreApplication::processEvents();
        form->txtUID->setText(QStringLiteral("anna.k"));
        form->txtPWD->setText(QStringLiteral(" p\"w' é=;#[x] "));
        form->txtServer->addItem(QStringLiteral("mail.example.net"));
        form->txtServer->setEditText(QStringLiteral("typed.example.org"));
        form->txtPort->setText(QStringLiteral("12a"));  // stored as typed, checked only on use
        form->DecodeHeaders1->setChecked(true);
        form->DecodeText = true;
        form->AutoHeaders1->setChecked(true);
    }
    QCOMPARE(desktop->boxes.size(), 0);
    QFile file(dir->filePath(QStringLiteral("Tarnbeck.ini")));
    QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());

    auto form = startForm();
    QCOMPARE(form->size(), QSize(700, 500));
    QCOMPARE(form->txtUID->text(), QStringLiteral("anna.k"));
    QCOMPARE(form->txtPWD->text(), QStringLiteral(" p\"w' é=;#[x] "));
    QCOMPARE(form->txtServer->currentText(), QStringLiteral("typed.example.org"));
    QCOMPARE(form->txtPort->text(), QStringLiteral("12a"));
    QCOMPARE(form->txtServer->count(), 5);
    QCOMPARE(form->txtServer->itemText(4), QStringLiteral("mail.example.net"));
    QVERIFY(form->DecodeHeaders1->isChecked());
    QVERIFY(readFile().contains("\r\nDecodeHeaders=1\r\n"));
    QVERIFY(form->DecodeText);
    QVERIFY(readFile().contains("\r\nDecodeText=1\r\n"));
    QVERIFY(form->AutoHeaders1->isChecked());
    QVERIFY(readFile().contains("\r\nAutoHeaders=1\r\n"));
}

void SettingsTest::firstSaveWritesTheDocumentedLayout()
{
    QSize outer;
    {
        auto form = startForm();
        form->txtUID->setText(QStringLiteral("bob"));
        form->txtPWD->setText(QStringLiteral("secret"));
        form->txtServer->setEditText(QStringLiteral("pop.example.org"));
        outer = form->frameGeometry().size();  // the stored size includes the frame
        QCOMPARE(form->size(), form->minimumSize());
    }
    const QList<QByteArray> lines = readFile().split('\n');
    QVERIFY(lines.size() >= 19);
    const QList<QByteArray> head{"[Windows]\r",
                                 "Maximize=0\r",
                                 "Height=" + QByteArray::number(outer.height()) + "\r",
                                 "Width=" + QByteArray::number(outer.width()) + "\r",
                                 "[Default]\r",
                                 "UserID=bob\r"};
    QCOMPARE(lines.mid(0, 6), head);
    QVERIFY(lines[6].startsWith("Password="));
    const QByteArray stored = lines[6].mid(9).chopped(1);
    QCOMPARE(stored.size(), 3 + 2 * 6);
    QCOMPARE(UnscramblePassword(stored, UserKey("bob")), QByteArray("secret"));
    QCOMPARE(lines[7], QByteArray("Server=pop.example.org\r"));
    QCOMPARE(lines[8], QByteArray("Port=110\r"));
    QCOMPARE(lines[9], QByteArray("Pipelining=1\r"));
    QCOMPARE(lines[10], QByteArray("DecodeHeaders=0\r"));
    QCOMPARE(lines[11], QByteArray("DecodeText=0\r"));
    QCOMPARE(lines[12], QByteArray("RequireTls=0\r"));
    QCOMPARE(lines[13], QByteArray("AutoHeaders=0\r"));
    QCOMPARE(lines[14], QByteArray("[Servers]\r"));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(lines[15 + i], TForm1::BuiltInServers()[i].toUtf8() + "=110\r");
}

void SettingsTest::storedValuesAreReadByTheRules_data()
{
    QTest::addColumn<QByteArray>("windows");
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<QSize>("size");  // outer size; empty: the minimum; negative: client size
    const QSize min;
    QTest::newRow("below minimum") << QByteArray("Height=100\nWidth=200\n") << false << min;
    QTest::newRow("hexadecimal") << QByteArray("Height=0x200\nWidth=$300\n") << false << QSize(0x300, 0x200);
    QTest::newRow("garbage") << QByteArray("Maximize=yes\nHeight=tall\nWidth=\n") << false << min;
    QTest::newRow("negative") << QByteArray("Height=-400\nWidth=-1\n") << false << min;
    QTest::newRow("most negative") << QByteArray("Height=-2147483648\nWidth=-2147483648\n") << false << min;
    QTest::newRow("beyond any screen") << QByteArray("Height=2147483647\nWidth=99999\n") << false
                                       << QSize(-16384, -16384);  // negative: the client size
    QTest::newRow("maximize any non-zero") << QByteArray("Maximize=5\n") << true << QSize();
}

void SettingsTest::storedValuesAreReadByTheRules()
{
    QFETCH(QByteArray, windows);
    QFETCH(bool, maximized);
    QFETCH(QSize, size);
    writeFile("[Windows]\n" + windows);
    auto form = startForm();
    QCOMPARE(form->windowState().testFlag(Qt::WindowMaximized), maximized);
    if (!maximized && size.width() < -1)
        QCOMPARE(form->size(), QSize(-size.width(), -size.height()));
    else if (!maximized && size.isEmpty())
        QCOMPARE(form->size(), form->minimumSize());
    else if (!maximized)
        QCOMPARE(form->frameGeometry().size(), size);
}

void SettingsTest::serversComeBackInFileOrder()
{
    writeFile("[Servers]\r\nzeta.example=110\r\nalpha.example=995\r\n mid.example = 1\r\n");
    auto form = startForm();
    QCOMPARE(form->txtServer->count(), 3);
    QCOMPARE(form->txtServer->itemText(0), QStringLiteral("zeta.example"));
    QCOMPARE(form->txtServer->itemText(1), QStringLiteral("alpha.example"));
    QCOMPARE(form->txtServer->itemText(2), QStringLiteral("mid.example"));
}

void SettingsTest::emptyServersSectionGivesBuiltIns()
{
    writeFile("[Servers]\r\n[Other]\r\nkeep=me\r\n");
    startForm().reset();
    const QByteArray saved = readFile();
    for (const QString &name : TForm1::BuiltInServers())
        QVERIFY2(saved.contains(name.toUtf8() + "=110"), saved.constData());
    // The built-in names land in the existing section, not in a second one.
    QCOMPARE(saved.count("[Servers]"), 1);
    QVERIFY(saved.indexOf(TForm1::BuiltInServers()[0].toUtf8()) < saved.indexOf("[Other]"));
    QVERIFY(saved.contains("keep=me"));
}

void SettingsTest::handEditedFileSurvivesSave()
{
    const QByteArray original = "; my notes\r\n[default]\r\nuserid = carol\r\nExtra=1\r\n[Mine]\r\na=b\r\n";
    writeFile(original);
    {
        auto form = startForm();
        QCOMPARE(form->txtUID->text(), QStringLiteral("carol"));  // names match ignoring case, blanks ignored
    }
    const QByteArray saved = readFile();
    QVERIFY(saved.startsWith("; my notes\r\n"));
    QVERIFY(saved.contains("Extra=1\r\n"));
    QVERIFY(saved.contains("[Mine]\r\na=b\r\n"));
    QCOMPARE(saved.count("[default]") + saved.count("[Default]"), 1);
}

void SettingsTest::unwritableFileIsReportedOnceAtExit()
{
    // A folder where the file should be: the save cannot replace it.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("Tarnbeck.ini")));
    auto form = startForm();
    const QString path = form->SettingsPath();
    form.reset();
    QCOMPARE(desktop->boxes.size(), 1);
    QCOMPARE(desktop->boxes[0].text, QStringLiteral("Unable to write to %1.").arg(path));
    QCOMPARE(desktop->boxes[0].title, TarnbeckApplication::title());
    QCOMPARE(desktop->boxes[0].icon, platform::BoxIcon::Error);
}

namespace {

// Sets an environment variable for one test and restores it afterwards.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char *name, const QString &value)
        : name(name), old(qgetenv(name)), had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, QFile::encodeName(value));
    }
    ~EnvironmentOverride()
    {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    }

private:
    const char *name;
    QByteArray old;
    bool had;
};

constexpr QFile::Permissions kAnyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                       QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                                       QFile::ExeOther;

}  // namespace

void SettingsTest::installedCopyKeepsSettingsInConfigFolder()
{
#ifndef Q_OS_LINUX
    QSKIP("needs /proc/self/, a folder where not even root can make a file");
#else
    // The program's folder takes no file (as /usr/bin for an ordinary user;
    // /proc/self/ refuses root too). The config folder, and the folder above
    // it, do not exist yet.
    const QString programFolder = QStringLiteral("/proc/self/");
    const QString configHome = dir->filePath(QStringLiteral("home/.config"));
    const EnvironmentOverride xdg("XDG_CONFIG_HOME", configHome);
    const QString folder = configHome + QLatin1Char('/') + QCoreApplication::applicationName();
    const QString path = folder + QStringLiteral("/Tarnbeck.ini");
    {
        auto form = startForm(programFolder);
        QCOMPARE(form->SettingsPath(), path);
        QCOMPARE(form->txtPort->text(), QStringLiteral("110"));
        form->txtUID->setText(QStringLiteral("anna.k"));
        form->txtPWD->setText(QStringLiteral("secret"));
        form->txtServer->setEditText(QStringLiteral("pop.example.org"));
        form->txtPort->setText(QStringLiteral("995"));
    }
    QCOMPARE(desktop->boxes.size(), 0);
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(QFile::permissions(path) & kAnyone, QFile::ReadOwner | QFile::WriteOwner);
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    QCOMPARE(QFile::permissions(folder) & kAnyone, ownerOnly);
    QCOMPARE(QFile::permissions(configHome) & kAnyone, ownerOnly);

    auto form = startForm(programFolder);
    QCOMPARE(form->txtUID->text(), QStringLiteral("anna.k"));
    QCOMPARE(form->txtPWD->text(), QStringLiteral("secret"));
    QCOMPARE(form->txtServer->currentText(), QStringLiteral("pop.example.org"));
    QCOMPARE(form->txtPort->text(), QStringLiteral("995"));
#endif
}

void SettingsTest::settingsPlaceRule()
{
    using SettingsPlace::Place;
    // A settings file next to the program is used wherever it is: a portable
    // copy on a read-only stick, or a file put beside an installed copy.
    QCOMPARE(SettingsPlace::choose(true, false, false), Place::ProgramFolder);
    QCOMPARE(SettingsPlace::choose(true, true, true), Place::ProgramFolder);
    // Without one: the program's folder when it takes files, unless it is the
    // install folder (which root could write).
    QCOMPARE(SettingsPlace::choose(false, true, false), Place::ProgramFolder);
    QCOMPARE(SettingsPlace::choose(false, false, false), Place::ConfigFolder);
    QCOMPARE(SettingsPlace::choose(false, true, true), Place::ConfigFolder);

    // The facts, found on real folders.
    const QString program = dir->path() + QLatin1Char('/');
    const QString config = dir->filePath(QStringLiteral("config/"));
    QCOMPARE(SettingsPlace::folderFor(program, config), program);
    QCOMPARE(SettingsPlace::folderFor(QStringLiteral("/proc/self/"), config), config);
    QCOMPARE(SettingsPlace::folderFor(dir->filePath(QStringLiteral("missing/")), config), config);
    // Trying the folder leaves nothing behind.
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(SettingsPlace::makePrivateFolder(config));
    QCOMPARE(QFile::permissions(config) & kAnyone, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!SettingsPlace::makePrivateFolder(QStringLiteral("/proc/self/config")));
}

int main(int argc, char **argv)
{
    TarnbeckApplication app(argc, argv);
    SettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
