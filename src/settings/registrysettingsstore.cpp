#include "settings/registrysettingsstore.h"

#include "errors/failure.h"

#include <qt_windows.h>

#include <utility>
#include <vector>

namespace settings {

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QString systemMessage(LSTATUS status)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(status), 0,
                                        reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    QString message = length ? QString::fromWCharArray(buffer, length).trimmed()
                             : QStringLiteral("error %1").arg(status);
    LocalFree(buffer);
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    return message;
}

class Key final
{
public:
    ~Key()
    {
        if (m_handle)
            RegCloseKey(m_handle);
    }
    HKEY *operator&() { return &m_handle; }
    operator HKEY() const { return m_handle; }

private:
    HKEY m_handle = nullptr;
};

} // namespace

RegistrySettingsStore::RegistrySettingsStore(QString root)
    : m_root(std::move(root))
{}

QString RegistrySettingsStore::subkey(const QString &application, const QString &section) const
{
    return m_root + QLatin1Char('\\') + application + QLatin1Char('\\') + section;
}

QString RegistrySettingsStore::location(const QString &application, const QString &section) const
{
    return QStringLiteral("HKEY_CURRENT_USER\\") + subkey(application, section);
}

QString RegistrySettingsStore::setting(const QString &application, const QString &section,
                                       const QString &key, const QString &defaultValue)
{
    Key handle;
    const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, wide(subkey(application, section)), 0,
                                         KEY_QUERY_VALUE, &handle);
    // A key that is there but forbidden is told once, as an unreadable file is.
    if (opened == ERROR_ACCESS_DENIED)
        throw Unreadable(QStringLiteral("The settings in %1 cannot be read: access is denied")
                             .arg(location(application, section)));
    if (opened != ERROR_SUCCESS)
        return defaultValue;
    DWORD type = REG_NONE;
    DWORD size = 0;
    std::vector<wchar_t> data;
    LSTATUS status = ERROR_MORE_DATA;
    // The value may grow between asking for its size and reading it.
    while (status == ERROR_MORE_DATA) {
        data.resize((size + sizeof(wchar_t) - 1) / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
        status = RegQueryValueExW(handle, wide(key), nullptr, &type,
                                  reinterpret_cast<BYTE *>(data.data()), &size);
    }
    if (status != ERROR_SUCCESS)
        return defaultValue;
    if (type != REG_SZ)
        throw errors::Failure(errors::Description::typeMismatch());
    // The registry keeps what it was given: the terminator may be missing, or
    // come early.
    data[size / sizeof(wchar_t)] = L'\0';
    return QString::fromWCharArray(data.data());
}

void RegistrySettingsStore::saveSetting(const QString &application, const QString &section,
                                        const QString &key, const QString &value)
{
    const auto fail = [&](LSTATUS status) {
        return writeFailure(location(application, section), systemMessage(status));
    };
    Key handle;
    LSTATUS status
        = RegCreateKeyExW(HKEY_CURRENT_USER, wide(subkey(application, section)), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS)
        throw fail(status);
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(handle, wide(key), 0, REG_SZ,
                            reinterpret_cast<const BYTE *>(wide(value)), bytes);
    if (status != ERROR_SUCCESS)
        throw fail(status);
    // Written through to the hive, as the file store writes through to disk.
    RegFlushKey(handle);
}

} // namespace settings
