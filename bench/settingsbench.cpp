// What big settings files and a held lock cost the main window: the time the
// start-up sequence spends beyond what it spends with no file, and the
// longest the window's event loop stands still for one choice, from the
// choice until the save has landed (or failed).
//
//   settingsbench [MiB ...]           default: 1 50 200
//   settingsbench --hold-lock FILE    holds FILE's lock until stdin closes
#include "errors/messagebox.h"
#include "shell/mainwindow.h"
#include "shell/platform.h"
#include "strobe/idleinhibitor.h"

#include "settings/inifilestore.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

class QuietBox final : public errors::MessageBox
{
public:
    int show(const QString &, int, const std::optional<QString> &) override
    {
        ++shown;
        return errors::MsgBoxResultOk;
    }
    int shown = 0;
};

class BenchPlatform final : public shell::Platform
{
public:
    explicit BenchPlatform(const QString &folder)
        : m_store(folder)
        , m_folder(folder)
    {}
    errors::MessageBox &messageBox() override { return box; }
    settings::SettingsStore &settingsStore() override { return m_store; }
    QString programFolder() const override { return m_folder; }
    float secondsSinceMidnight() const override { return 0; }
    void randomize(double) override {}
    float nextRandom() override { return 0.5f; } // no home page
    void openUrl(const QUrl &) override {}
    void endProgram() override {}
    strobe::IdleInhibitor &idleInhibitor() override { return m_idle; }

    QString file() const { return m_store.location(QStringLiteral("Quarnel")); }

    QuietBox box;

private:
    // The strobe never opens here.
    struct NoIdleInhibitor final : strobe::IdleInhibitor
    {
        void inhibit(QWidget &) override {}
        void release() override {}
    };

    settings::IniFileStore m_store;
    QString m_folder;
    NoIdleInhibitor m_idle;
};

void writeSettings(const QString &path, qint64 mebibytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block = "[Other]\n";
    for (int i = 0; block.size() < 1024 * 1024; ++i)
        block += "key" + QByteArray::number(i) + '=' + QByteArray(48, 'x') + '\n';
    for (qint64 i = 0; i < mebibytes; ++i)
        file.write(block);
    file.write("[Lumivex%20Software]\nCombo1=1\nCombo2=2\n");
}

qint64 startupMs(BenchPlatform &platform)
{
    QElapsedTimer timer;
    timer.start();
    shell::MainWindow form(platform);
    form.setUp();
    return timer.elapsed();
}

// The longest gap between turns of the event loop from a choice until done()
// holds, or a minute.
qint64 s_longestHandler = 0;

qint64 longestStall(const std::function<void()> &choose, const std::function<bool()> &done)
{
    QElapsedTimer sinceTurn;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longest = qMax(longest, sinceTurn.restart()); });
    ticker.start();
    QElapsedTimer total;
    total.start();
    sinceTurn.start();
    choose();
    s_longestHandler = qMax(s_longestHandler, sinceTurn.elapsed());
    longest = qMax(longest, sinceTurn.restart());
    while (!done() && total.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return longest;
}

QString storedStyle(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.seek(qMax<qint64>(0, file.size() - 64));
    const QByteArray tail = file.readAll();
    const qsizetype at = tail.indexOf("Combo1=");
    return at < 0 ? QString() : QString::fromLatin1(tail.mid(at + 7, 1));
}

void measure(qint64 mebibytes, qint64 baseline)
{
    QTemporaryDir scratch;
    BenchPlatform platform(scratch.path());
    writeSettings(platform.file(), mebibytes);
    qint64 startup = 0;
    for (int i = 0; i < 3; ++i)
        startup = i ? qMin(startup, startupMs(platform)) : startupMs(platform);

    shell::MainWindow form(platform);
    form.setUp();
    auto *styles = form.findChild<QComboBox *>(QStringLiteral("Combo1"));
    qint64 free = 0;
    for (int i = 0; i < 4; ++i) {
        const int index = i % 2 ? 1 : 0;
        // Asking the file itself would make the window wait for the disk.
        free = qMax(free, longestStall([&] { styles->setCurrentIndex(index); },
                                       [&] { return form.finishSaving(0); }));
        if (storedStyle(platform.file()) != QString::number(index))
            qFatal("the choice was not saved");
    }

    // Another program holds the lock all along: every save waits and fails.
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--hold-lock"), platform.file()});
    holder.waitForReadyRead(10000);
    // A save gives up on a held lock after a quarter of a second.
    qint64 contended = 0;
    for (int i = 0; i < 4; ++i) {
        QElapsedTimer since;
        since.start();
        contended = qMax(contended, longestStall([&] { styles->setCurrentIndex(i % 2); },
                                                 [&] { return since.elapsed() > 1000; }));
    }
    holder.closeWriteChannel();
    holder.waitForFinished(10000);
    // Lets a save still under way finish before the folder goes.
    form.close();

    std::printf("%4lld MiB: start-up +%5lld ms   longest stall per choice: %5lld ms, "
                "with the lock held elsewhere: %5lld ms (in the handler: %lld ms)\n",
                mebibytes, startup - baseline, free, contended, s_longestHandler);
    s_longestHandler = 0;
    std::fflush(stdout);
}

int holdLock(const QString &file)
{
    QLockFile lock(file + QStringLiteral(".lock"));
    if (!lock.tryLock(5000))
        return 1;
    std::puts("held");
    std::fflush(stdout);
    QFile in;
    in.open(stdin, QIODevice::ReadOnly);
    in.readAll();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0) {
        QCoreApplication app(argc, argv);
        return holdLock(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    QList<qint64> sizes;
    for (const QString &argument : app.arguments().mid(1))
        sizes.append(argument.toLongLong());
    if (sizes.isEmpty())
        sizes = {1, 50, 200};

    QTemporaryDir empty;
    BenchPlatform none(empty.path());
    qint64 baseline = startupMs(none);
    for (int i = 0; i < 3; ++i)
        baseline = qMin(baseline, startupMs(none));
    std::printf("start-up with no settings file: %lld ms\n", baseline);
    // What the machine's load alone does to the event loop, for comparison.
    QElapsedTimer idle;
    idle.start();
    const qint64 floor = longestStall([] {}, [&] { return idle.elapsed() > 3000; });
    std::printf("longest stall with nothing to do, over 3 s: %lld ms\n", floor);
    for (qint64 size : sizes)
        measure(size, baseline);
    return 0;
}
