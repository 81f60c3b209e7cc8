// Links at the settings path, swapped while saves run or made by another
// user, and the access rules of the file: a save follows only the links it
// may, and replaces the file it read with its owner, mode and attributes.
#include "settingsfaults.h"

#include "fakeplatform.h"
#include "faultsupport.h"

#include <QDir>
#include <QPoint>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using faults::readBytes;
using faults::writeBytes;
using namespace settingsfaults;

namespace {

// Owner, group, mode, access control lists and every extended attribute.
QByteArray accessRules(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    QByteArray acl;
    QByteArray attributes;
    faults::runTool(QStringLiteral("getfacl"),
                    {QStringLiteral("-n"), QStringLiteral("--absolute-names"), path}, &acl);
    faults::runTool(QStringLiteral("getfattr"),
                    {QStringLiteral("-d"), QStringLiteral("-m"), QStringLiteral("-"),
                     QStringLiteral("-e"), QStringLiteral("hex"),
                     QStringLiteral("--absolute-names"), path},
                    &attributes);
    return QByteArray::number(info.st_uid) + ':' + QByteArray::number(info.st_gid) + ' '
           + QByteArray::number(info.st_mode & 07777, 8) + '\n' + acl + attributes;
}

bool runShell(const QString &command)
{
    return faults::runTool(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

// Puts at path, atomically and in turn, a link to each target and a regular
// file of its own, until stopped. Counts the times it found a regular file
// at path holding a line of a target.
class LinkSwapper
{
public:
    LinkSwapper(const QString &path, const QStringList &targets)
        : m_thread([=] {
            const QByteArray link = QFile::encodeName(path);
            const QByteArray fresh = link + ".swap";
            for (int i = 0; !m_stop; ++i) {
                struct stat info = {};
                if (::lstat(link.constData(), &info) == 0 && S_ISREG(info.st_mode)
                    && readBytes(path).contains("only="))
                    ++m_mixed;
                ::unlink(fresh.constData());
                const int which = i % (targets.size() + 1);
                const bool made = which == targets.size()
                                      ? writeBytes(QFile::decodeName(fresh), "[Own]\nmine=1\n")
                                      : ::symlink(QFile::encodeName(targets.at(which)).constData(),
                                                  fresh.constData())
                                            == 0;
                if (made)
                    ::rename(fresh.constData(), link.constData());
                ++m_swaps;
            }
        })
    {}
    ~LinkSwapper() { stop(); }
    Q_DISABLE_COPY_MOVE(LinkSwapper)

    int stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_swaps;
    }
    int mixed() const { return m_mixed; }

private:
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_swaps = 0;
    std::atomic<int> m_mixed = 0;
    std::thread m_thread;
};

} // namespace

void TestSettingsFaults::linksAndModes()
{
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString real = platform.scratch.filePath(QStringLiteral("dotfiles/quarnel.ini"));
    QVERIFY(QDir().mkpath(QFileInfo(real).path()));
    const QByteArray others = QByteArrayLiteral("[Painter]\nzoom=2\n");
    QVERIFY(writeBytes(real, others));
    QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(QFile::link(real, file));

    // A link to a file is followed: the file it leads to is updated, the link stays.
    {
        shell::MainWindow form(platform);
        form.setUp();
        choose(form, "Combo1", 1);
        QCOMPARE(platform.box.shown.size(), 0);
    }
    QCOMPARE(QFileInfo(file).symLinkTarget(), real);
    QCOMPARE(readBytes(real), others + '\n' + storedChoices(1, 0));
    QCOMPARE(modeOf(real), 0640);
    QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QFileInfo(file).fileName()});

    // A new file, in a folder that is not there yet, is the user's alone.
    FakePlatform fresh;
    const QString folder = QFileInfo(fresh.settingsFile()).path();
    QVERIFY(QDir(folder).removeRecursively());
    shell::MainWindow form(fresh);
    form.setUp();
    QCOMPARE(fresh.storedValue(QStringLiteral("Combo1")), QStringLiteral("0"));
    QCOMPARE(modeOf(fresh.settingsFile()), 0600);
    QCOMPARE(modeOf(folder), 0700);
}

void TestSettingsFaults::accessRulesKept_data()
{
    // Shell commands that give the settings file (%1) and its folder (%2)
    // their access rules; whether they need root.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("needsRoot");
    QTest::newRow("a user in the access list, group narrower than the mask")
        << QStringLiteral("chmod 0640 %1 && setfacl -m u:65534:rw,g::r %1") << false;
    QTest::newRow("a default access list on the folder, none on the file")
        << QStringLiteral("chmod 0640 %1 && setfacl -d -m u:65534:rwx %2") << false;
    QTest::newRow("user attributes") << QStringLiteral("setfattr -n user.origin -v by-hand %1 && "
                                                       "setfattr -n user.empty %1")
                                     << false;
    QTest::newRow("another group and setgid")
        << QStringLiteral("chown 0:65534 %1 && chmod 2660 %1") << true;
    QTest::newRow("another owner, an access list and an attribute")
        << QStringLiteral("chown 65534:65534 %1 && chmod 0604 %1 && setfacl -m g:0:r %1 && "
                          "setfattr -n user.kept -v yes %1")
        << true;
}

void TestSettingsFaults::accessRulesKept()
{
    QFETCH(QString, setup);
    QFETCH(bool, needsRoot);
    if (needsRoot && ::geteuid() != 0)
        QSKIP("needs root to give the file to another owner or group");
    FakePlatform platform;
    const QString file = platform.settingsFile();
    QVERIFY(writeBytes(file, storedChoices(1, 2)));
    if (!runShell(QStringLiteral("setfacl -m u:65534:r %1 && setfattr -n user.probe -v 1 %1 && "
                                 "setfacl -b %1 && setfattr -x user.probe %1")
                      .arg(file)))
        QSKIP("needs setfacl and setfattr (Debian: acl, attr) and a file system with access "
              "control lists and user attributes under the scratch folder");
    QVERIFY(runShell(setup.arg(file, QFileInfo(file).path())));
    const QByteArray before = accessRules(file);

    shell::MainWindow form(platform);
    form.setUp();
    choose(form, "Combo1", 0);
    QCOMPARE(platform.box.shown.size(), 0);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), QStringLiteral("0"));
    QCOMPARE(accessRules(file), before);
}

void TestSettingsFaults::hardLinkKeepsOldVersion()
{
    // The settings file is replaced as a whole, never rewritten in place: a
    // crash can never leave it half written. Another name for it keeps the
    // version it had, whole.
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString other = platform.scratch.filePath(QStringLiteral("other-name.conf"));
    QVERIFY(writeBytes(file, storedChoices(1, 2)));
    QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()), 0);
    shell::MainWindow form(platform);
    form.setUp();
    choose(form, "Combo1", 0);
    QCOMPARE(platform.box.shown.size(), 0);
    QCOMPARE(readBytes(file), storedChoices(0, 2));
    QCOMPARE(readBytes(other), storedChoices(1, 2));
}

void TestSettingsFaults::linkSwappedDuringSaves()
{
    // The settings path is swapped between links to two programs' files and a
    // file of its own while three programs save into it. Each save replaces
    // the file that it read: no file ever gets another's lines.
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString first = platform.scratch.filePath(QStringLiteral("first.ini"));
    const QString second = platform.scratch.filePath(QStringLiteral("second.ini"));
    const QByteArray firstText = QByteArray("[First]\nonly=first\n") + QByteArray(20000, ';');
    const QByteArray secondText = QByteArrayLiteral("[Second]\nonly=second\n");
    QVERIFY(writeBytes(first, firstText));
    QVERIFY(writeBytes(second, secondText));
    QVERIFY(QFile::link(first, file));

    QList<QProcess *> programs;
    const auto cleanup = qScopeGuard([&] { qDeleteAll(programs); });
    LinkSwapper swapper(file, {first, second});
    for (int i = 0; i < 3; ++i) {
        programs.append(new QProcess);
        programs.last()->start(
            QStringLiteral(SETTINGS_HAMMER),
            {QFileInfo(file).path(), QStringLiteral("Key%1").arg(i), QStringLiteral("40")});
    }
    for (QProcess *program : std::as_const(programs))
        QVERIFY(program->waitForFinished(60000));
    qInfo("%d swaps of the link", swapper.stop());
    QCOMPARE(swapper.mixed(), 0);

    const QByteArray firstAfter = readBytes(first);
    const QByteArray secondAfter = readBytes(second);
    QVERIFY(firstAfter.startsWith(firstText));
    QVERIFY(secondAfter.startsWith(secondText));
    QVERIFY(!firstAfter.contains("second"));
    QVERIFY(!secondAfter.contains("first"));
    QVERIFY(!secondAfter.contains(";;"));
    for (const QByteArray &text : {firstAfter, secondAfter}) {
        const QByteArray added
            = text.mid(text.startsWith("[First]") ? firstText.size() : secondText.size());
        for (const QByteArray &line : added.split('\n'))
            QVERIFY2(line.isEmpty() || line == "[Lumivex%20Software]" || line.startsWith("Key"),
                     line.constData());
    }
}

void TestSettingsFaults::rootFollowsOnlySafeLinks_data()
{
    QTest::addColumn<RootLink>("link");
    QTest::newRow("a link owned by another user") << RootLink::OwnedByAnother;
    QTest::newRow("root's link in another user's folder") << RootLink::InOthersFolder;
    QTest::newRow("root's link in a world-writable folder") << RootLink::InWorldWritableFolder;
    QTest::newRow("root's link through a folder link owned by another user")
        << RootLink::FolderOwnedByAnother;
}

void TestSettingsFaults::rootFollowsOnlySafeLinks()
{
    QFETCH(RootLink, link);
    if (::geteuid() != 0)
        QSKIP("the rule is root's");
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QByteArray folder = QFile::encodeName(QFileInfo(file).path());
    QString secret = platform.scratch.filePath(QStringLiteral("secret"));
    const QByteArray content = "[Root]\ntoken=42\n" + storedChoices(1, 2);
    if (link == RootLink::FolderOwnedByAnother) {
        // Root's own link leads through another user's link to root's folder.
        const QDir scratch(platform.scratch.path());
        QVERIFY(scratch.mkdir(QStringLiteral("private"))
                && scratch.mkdir(QStringLiteral("shared")));
        QCOMPARE(::chmod(QFile::encodeName(scratch.filePath(QStringLiteral("shared"))), 01777), 0);
        const QString shared = scratch.filePath(QStringLiteral("shared/folder"));
        QVERIFY(QFile::link(scratch.filePath(QStringLiteral("private")), shared));
        QCOMPARE(::lchown(QFile::encodeName(shared).constData(), 65534, 65534), 0);
        secret = scratch.filePath(QStringLiteral("private/") + QFileInfo(file).fileName());
        QVERIFY(writeBytes(secret, content));
        QVERIFY(QFile::link(shared + u'/' + QFileInfo(file).fileName(), file));
    } else {
        QVERIFY(writeBytes(secret, content));
        QVERIFY(QFile::link(secret, file));
    }
    QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
    switch (link) {
    case RootLink::FolderOwnedByAnother:
        break;
    case RootLink::OwnedByAnother:
        QCOMPARE(::lchown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        break;
    case RootLink::InOthersFolder:
        QCOMPARE(::chown(folder.constData(), 65534, 65534), 0);
        break;
    case RootLink::InWorldWritableFolder:
        QCOMPARE(::chmod(folder.constData(), 01777), 0);
        break;
    }
    const QByteArray before = identity(secret);

    // Neither read nor written: the lists start with their first entries,
    // and the first save says once that choices are not kept.
    shell::MainWindow form(platform);
    form.setUp();
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(0, 0));
    choose(form, "Combo1", 1);
    choose(form, "Combo2", 1);
    QCOMPARE(platform.box.shown.size(), 1);
    QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("could not be saved")));
    QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("runs as root")));
    QCOMPARE(identity(secret), before);
    QCOMPARE(readBytes(secret), content);
}
