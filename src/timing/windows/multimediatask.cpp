#include "timing/windows/multimediatask.h"

namespace timing {

void setPowerThrottling(bool allowed)
{
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = allowed ? 0
                                : PROCESS_POWER_THROTTLING_EXECUTION_SPEED
                                      | PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;
    if (SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state)
        || allowed)
        return;
    // Windows 10 knows only the first.
    state.ControlMask = PROCESS_POWER_THROTTLING_EXECUTION_SPEED;
    SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

MultimediaTask::MultimediaTask()
{
    using Register = HANDLE(WINAPI *)(LPCWSTR, LPDWORD);
    m_library = LoadLibraryExW(L"avrt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const auto avRegister = m_library ? reinterpret_cast<Register>(reinterpret_cast<void *>(
                                GetProcAddress(m_library, "AvSetMmThreadCharacteristicsW")))
                                      : nullptr;
    DWORD index = 0;
    m_task = avRegister ? avRegister(L"Playback", &index) : nullptr;
    if (!m_task)
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

MultimediaTask::~MultimediaTask()
{
    using Revert = BOOL(WINAPI *)(HANDLE);
    if (m_task) {
        const auto avRevert = reinterpret_cast<Revert>(reinterpret_cast<void *>(
            GetProcAddress(m_library, "AvRevertMmThreadCharacteristics")));
        if (avRevert)
            avRevert(m_task);
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    if (m_library)
        FreeLibrary(m_library);
}

} // namespace timing
