#pragma once

#include "shell/mainwindow.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The settings store under faults, one executable in three files: what sits
// at the settings path (test_settingsfaults.cpp), links and access rules
// (settingsfaults_links.cpp), and saves and stores that fail
// (settingsfaults_stores.cpp).
namespace settingsfaults {

// Shared by the three files; defined in test_settingsfaults.cpp.
QByteArray storedChoices(int style, int speed);
QByteArray hugeSettingsText(const QByteArray &tail, int mebibytes = 30);
void choose(shell::MainWindow &form, const char *list, int index);
QByteArray identity(const QString &path);
int modeOf(const QString &path);
bool setAge(const QString &path, int seconds);
qint64 deadPid();

enum class AtPath { Fifo, Folder, DeviceLink, DanglingLink, FifoLink, KernelLink };
enum class AtLock { Stale, Empty, Live, Folder, Fifo, Huge, PipeInChain };
enum class Unwritable { ReadOnlyFileSystem, FolderIsFile, FullDisk };
enum class RootLink {
    OwnedByAnother,
    InOthersFolder,
    InWorldWritableFolder,
    FolderOwnedByAnother
};

} // namespace settingsfaults

Q_DECLARE_METATYPE(settingsfaults::AtPath)
Q_DECLARE_METATYPE(settingsfaults::AtLock)
Q_DECLARE_METATYPE(settingsfaults::Unwritable)
Q_DECLARE_METATYPE(settingsfaults::RootLink)

class TestSettingsFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storeFileKeptByteForByte_data();
    void storeFileKeptByteForByte();
    void notAFileAtThePath_data();
    void notAFileAtThePath();
    void locks_data();
    void locks();
    void linksAndModes();
    void accessRulesKept_data();
    void accessRulesKept();
    void hardLinkKeepsOldVersion();
    void linkSwappedDuringSaves();
    void rootFollowsOnlySafeLinks_data();
    void rootFollowsOnlySafeLinks();
    void savesOffTheWindowThread_data();
    void savesOffTheWindowThread();
    void strayTemporaryFilesGo();
    void unreadableStore_data();
    void unreadableStore();
    void unwritableStore_data();
    void unwritableStore();
    void tenProgramsSaveAtOnce();
};
