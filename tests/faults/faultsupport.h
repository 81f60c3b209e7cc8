#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class FakeMessageBox;
class QComboBox;
class QWidget;

// Building blocks for fault tests: hostile file contents, small file systems
// that fill up or turn read-only, and the real program run under X.
namespace faults {

QByteArray readBytes(const QString &path);
bool writeBytes(const QString &path, const QByteArray &data);

// Text lines that are no settings file at all.
QByteArray garbageText();
// Deterministic noise with NUL bytes, n bytes long.
QByteArray binaryBytes(qsizetype n);
// About megabytes of settings-like text in another section, then tail.
QByteArray hugeSettingsText(int megabytes, const QByteArray &tail);
// A 1-bit PNG of the given size; small on disk, huge once decoded.
bool writeHugePng(const QString &path, int width, int height);
// A small valid PNG.
QByteArray smallPng();

// The prompts of the boxes shown so far that contain text.
QStringList promptsContaining(const FakeMessageBox &box, const QString &text);

// A named list of a main window.
QComboBox *list(QWidget &form, const char *name);

// A tmpfs of a fixed size mounted over a folder for the life of the object.
// Needs root and mount; available() tells whether the test can use it.
class ScratchMount
{
public:
    ScratchMount(const QString &folder, int kilobytes);
    ~ScratchMount();
    ScratchMount(const ScratchMount &) = delete;
    ScratchMount &operator=(const ScratchMount &) = delete;

    bool mounted() const { return m_mounted; }
    bool remountReadOnly();
    // Fills the free space with a filler file.
    bool fill();
    static bool available();

private:
    QString m_folder;
    bool m_mounted = false;
};

// The built program, run with its own scratch home and an xdg-open that only
// records what it was asked to open. Needs DISPLAY (xvfb-run) for xdotool.
class ProgramRun
{
public:
    explicit ProgramRun(const QString &configHome);
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    bool start();
    // The X window id of the main window, once it is mapped; 0 on timeout.
    QString waitForMainWindow(int timeoutMs = 20000);
    // Focuses the main window and types keys (xdotool key names).
    bool sendKeys(const QStringList &keys);
    bool isRunning() const;
    qint64 pid() const;
    void kill();
    // Asks the program to close and waits for it.
    bool terminate(int timeoutMs = 10000);
    QByteArray output() const;
    QString opened() const;

private:
    QString m_configHome;
    QTemporaryDir m_bin;
    std::unique_ptr<QProcess> m_process;
    QString m_window;
};

bool runTool(const QString &program, const QStringList &args, QByteArray *out = nullptr,
             int timeoutMs = 20000);

} // namespace faults
