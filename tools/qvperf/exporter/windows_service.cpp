#include "exporter/windows_service.h"

#ifdef _WIN32
#include "exporter/windows_calls.h"
#endif

namespace qvperf {

#ifndef _WIN32

bool InstallExporterService(const std::string&, std::string* error) {
    *error = "services exist only on Windows";
    return false;
}
bool RemoveExporterService(std::string* error) {
    *error = "services exist only on Windows";
    return false;
}
bool RunAsExporterService(const std::function<int()>&, const std::function<void()>&,
                          std::string* error) {
    *error = "services exist only on Windows";
    return false;
}

#else

namespace {

// Handles closed on every path.
struct ScHandle {
    SC_HANDLE handle;
    explicit ScHandle(SC_HANDLE h) : handle(h) {}
    ~ScHandle() {
        if (handle != nullptr) CloseServiceHandle(handle);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

// State shared with the callbacks of the service control manager.
struct Running {
    const std::function<int()>* serve = nullptr;
    const std::function<void()>* stop = nullptr;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};
} g_running;

void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD serviceExitCode = 0) {
    g_running.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_running.status.dwCurrentState = state;
    g_running.status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_running.status.dwWin32ExitCode = exitCode;
    g_running.status.dwServiceSpecificExitCode = serviceExitCode;
    g_running.status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
    ++g_running.status.dwCheckPoint;
    SetServiceStatus(g_running.statusHandle, &g_running.status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING);
            (*g_running.stop)();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    std::wstring name = Wide(kServiceName);
    g_running.statusHandle = RegisterServiceCtrlHandlerExW(name.c_str(), OnControl, nullptr);
    if (g_running.statusHandle == nullptr) return;
    Report(SERVICE_START_PENDING);
    Report(SERVICE_RUNNING);
    const int code = (*g_running.serve)();
    // A failure (the address taken, say) is qvperf's exit status as the
    // service's own code; the event log has the message.
    Report(SERVICE_STOPPED, code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR,
           static_cast<DWORD>(code));
}

}  // namespace

bool InstallExporterService(const std::string& listen, std::string* error) {
    std::wstring self;
    if (!ThisProgramPath(&self, error)) return false;
    const std::wstring command = L"\"" + self + L"\" --run-as-service --listen " + Wide(listen);
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (manager.handle == nullptr) return (*error = CallFailure("OpenSCManagerW")), false;
    const std::wstring name = Wide(kServiceName), display = Wide(kServiceDisplayName);
    ScHandle service(CreateServiceW(manager.handle, name.c_str(), display.c_str(),
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service.handle == nullptr) return (*error = CallFailure("CreateServiceW")), false;
    std::wstring about = L"Serves the Quorvane Server 11 performance counters to Prometheus.";
    SERVICE_DESCRIPTIONW description{&about[0]};
    ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_DESCRIPTION, &description);
    // An exporter that crashes, or stops with an error, comes back by itself:
    // the service control manager restarts it after 5 s twice, then after a
    // minute, and counts afresh after a day without failures. Like the
    // description, a system that refuses these still runs the service.
    SC_ACTION restarts[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000},
                            {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{24 * 60 * 60, nullptr, nullptr, 3, restarts};
    ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    SERVICE_FAILURE_ACTIONS_FLAG onErrorExit{TRUE};
    ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorExit);
    return true;
}

bool RemoveExporterService(std::string* error) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.handle == nullptr) return (*error = CallFailure("OpenSCManagerW")), false;
    const std::wstring name = Wide(kServiceName);
    ScHandle service(
        OpenServiceW(manager.handle, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service.handle == nullptr) return (*error = CallFailure("OpenServiceW")), false;
    SERVICE_STATUS status{};
    if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) {
        // Up to 15 s for the exporter to close its connections and stop.
        for (int i = 0; i < 150 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
            Sleep(100);
            if (!QueryServiceStatus(service.handle, &status)) break;
        }
    }
    if (!DeleteService(service.handle)) return (*error = CallFailure("DeleteService")), false;
    return true;
}

bool RunAsExporterService(const std::function<int()>& serve, const std::function<void()>& stop,
                          std::string* error) {
    g_running.serve = &serve;
    g_running.stop = &stop;
    std::wstring name = Wide(kServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{&name[0], ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return (*error = CallFailure("StartServiceCtrlDispatcherW (not started by the service "
                                 "control manager?)")),
               false;
    return true;
}

#endif

}  // namespace qvperf
