// The real program under X: killed with SIGKILL right after a choice, two
// copies, each on a display of its own, writing the same settings file, and a
// lock swapped for a pipe or a device while choices are saved. Run under
// xvfb-run.
#include "faultsupport.h"
#include "settings/initext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// An X server of its own, for a second session of the same user.
class XServer
{
public:
    XServer()
    {
        // Xvfb writes the display number it took to the descriptor named.
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"),
                         QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
        QByteArray number;
        while (!number.endsWith('\n') && m_process.waitForReadyRead(10000))
            number += m_process.readAllStandardOutput();
        if (number.endsWith('\n'))
            m_display = u':' + QString::fromLatin1(number.trimmed());
    }
    ~XServer()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    Q_DISABLE_COPY_MOVE(XServer)

    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

// The built program with its own settings folder and an xdg-open that opens
// nothing, so no browser ever starts; on the display named, or the test's own.
class ProgramRun
{
public:
    explicit ProgramRun(const QString &configHome, const QString &display = {})
        : m_display(display.isEmpty() ? qEnvironmentVariable("DISPLAY") : display)
    {
        const QString opener = m_bin.filePath(QStringLiteral("xdg-open"));
        faults::writeBytes(opener, QByteArrayLiteral("#!/bin/sh\n"));
        QFile::setPermissions(opener, QFile::ReadOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"),
                   m_bin.path() + u':' + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), m_display);
        m_process.setProcessEnvironment(env);
    }
    ~ProgramRun() { kill(); }
    Q_DISABLE_COPY_MOVE(ProgramRun)

    // Starts the program and waits for its main window to be mapped.
    bool start()
    {
        m_process.start(QStringLiteral(LUMIVEX_PROGRAM), {});
        QByteArray out;
        for (int waited = 0; waited < 20000 && m_process.waitForStarted(); waited += 100) {
            if (xdotool({QStringLiteral("search"), QStringLiteral("--all"),
                         QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                         QString::number(m_process.processId()), QStringLiteral("--name"),
                         QStringLiteral("^Lumivex Software$")},
                        &out)) {
                m_window = QString::fromLatin1(out.trimmed().split('\n').first());
                return true;
            }
            QThread::msleep(100);
        }
        return false;
    }
    // Focuses the main window and types keys (xdotool key names).
    bool sendKeys(const QStringList &keys)
    {
        return xdotool(QStringList{QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                                   m_window, QStringLiteral("key"), QStringLiteral("--delay"),
                                   QStringLiteral("30")}
                       + keys);
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    bool terminate()
    {
        m_process.terminate();
        return m_process.waitForFinished(10000);
    }

private:
    bool xdotool(const QStringList &arguments, QByteArray *out = nullptr) const
    {
        return faults::runTool(
            QStringLiteral("env"),
            QStringList{u"DISPLAY="_s + m_display, QStringLiteral("xdotool")} + arguments, out);
    }

    QString m_display;
    QTemporaryDir m_bin;
    QProcess m_process;
    QString m_window;
};

// "Combo1,Combo2" as stored, read afresh each time.
QString stored(const QString &configHome)
{
    const QByteArray text
        = faults::readBytes(QDir(configHome).filePath(QStringLiteral("Quarnel.conf")));
    QStringList values;
    for (const char *key : {"Combo1", "Combo2"})
        values << settings::ini::value(text, QStringLiteral("Lumivex Software"),
                                       QLatin1String(key))
                      .value_or(QString());
    return values.join(u',');
}

} // namespace

class TestProcessFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void choiceSurvivesSigkill();
    void twoInstancesShareTheFile();
    void lockSwappedWhileSaving();
};

void TestProcessFaults::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display: run under xvfb-run");
}

void TestProcessFaults::choiceSurvivesSigkill()
{
    QTemporaryDir home;
    ProgramRun run(home.path());
    QVERIFY(run.start());
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("0,0"), 10000);
    // The style list has the focus; Down picks "Random Colors".
    QVERIFY(run.sendKeys({QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("1,0"), 10000);
    run.kill();
    QCOMPARE(stored(home.path()), QStringLiteral("1,0"));

    // The next start restores it and can still save.
    ProgramRun again(home.path());
    QVERIFY(again.start());
    QVERIFY(again.sendKeys({QStringLiteral("Tab"), QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("1,1"), 10000);
    QVERIFY(again.terminate());
}

void TestProcessFaults::twoInstancesShareTheFile()
{
    QTemporaryDir home;
    ProgramRun first(home.path());
    QVERIFY(first.start());
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("0,0"), 10000);
    // Copies on one display hand over to the first; another display is another
    // session of the same user, with the same settings.
    const XServer other;
    QVERIFY(!other.display().isEmpty());
    ProgramRun second(home.path(), other.display());
    QVERIFY(second.start());

    // Each copy changes its own list; neither loses the other's change.
    QVERIFY(first.sendKeys({QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("1,0"), 10000);
    QVERIFY(
        second.sendKeys({QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("1,2"), 10000);

    // Both at once, many times over, ending on Up: one step back from where each was.
    QStringList storm;
    for (int i = 0; i < 40; ++i)
        storm << (i % 2 ? QStringLiteral("Up") : QStringLiteral("Down"));
    QVERIFY(first.sendKeys(storm));
    QVERIFY(second.sendKeys(storm));
    // xdotool returns once the keys are sent, not once they are handled.
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("0,1"), 10000);
    QVERIFY(first.terminate());
    QVERIFY(second.terminate());
    QCOMPARE(stored(home.path()), QStringLiteral("0,1"));
    QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Quarnel.conf")});
}

void TestProcessFaults::lockSwappedWhileSaving()
{
    // Every 20 ms the lock becomes a lock held by this test, a pipe, or a
    // link to /dev/zero, while the user picks choices: the saves never
    // block on what is there, and SIGTERM ends the program at once.
    QTemporaryDir home;
    ProgramRun run(home.path());
    QVERIFY(run.start());
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()), QStringLiteral("0,0"), 10000);
    const QByteArray lock = QFile::encodeName(home.filePath(QStringLiteral("Quarnel.conf.lock")));
    const QByteArray held
        = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
          + QFile::encodeName(
              QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName())
          + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
    std::atomic<bool> stop = false;
    std::thread swapper([&] {
        const QByteArray fresh = lock + ".new";
        for (int i = 0; !stop; ++i) {
            ::unlink(fresh.constData());
            const bool made = i % 3 == 0   ? faults::writeBytes(QFile::decodeName(fresh), held)
                              : i % 3 == 1 ? ::mkfifo(fresh.constData(), 0600) == 0
                                           : ::symlink("/dev/zero", fresh.constData()) == 0;
            if (made)
                ::rename(fresh.constData(), lock.constData());
            QThread::msleep(20);
        }
    });
    QStringList storm;
    for (int i = 0; i < 40; ++i)
        storm << (i % 2 ? QStringLiteral("Up") : QStringLiteral("Down"));
    const bool sent = run.sendKeys(storm);
    QThread::msleep(500);
    const bool ended = run.terminate();
    stop = true;
    swapper.join();
    QVERIFY(sent);
    QVERIFY2(ended, "SIGTERM did not end the program within ten seconds");
}

QTEST_MAIN(TestProcessFaults)
#include "test_processfaults.moc"
