#include "app/TForm1.h"
#include "app/TarnbeckApplication.h"
#include "settings/PasswordScrambler.h"
#include "support/DesktopStub.h"

#include <QComboBox>
#include <QFile>
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

private:
    std::unique_ptr<TForm1> startForm();
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

std::unique_ptr<TForm1> SettingsTest::startForm()
{
    auto form = std::make_unique<TForm1>();
    form->AppDir = dir->path() + QLatin1Char('/');
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
    QVERIFY(lines.size() >= 14);
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
    QCOMPARE(lines[9], QByteArray("[Servers]\r"));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(lines[10 + i], TForm1::BuiltInServers()[i].toUtf8() + "=110\r");
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

int main(int argc, char **argv)
{
    TarnbeckApplication app(argc, argv);
    SettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
