#include "tools/agent/host/CAgentService.h"

#include <Poco/UnicodeConverter.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "tools/ExitCodes.h"
#include "tools/agent/control/CConsoleInput.h"
#include "tools/agent/host/CAgentApplication.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const wchar_t* const kDisplayName = L"QUIL connector agent";
const wchar_t* const kDescription =
    L"Hosts the QUIL connector module between the management agent and the disk encryption product.";
const char* const kServiceDatabase = "C:\\ProgramData\\quil\\agent.db";
// How long the agent may take to open its database and load the module before it says it runs.
const DWORD kStartHintMs = 30000;
// Beyond the module's grace period: the store's last writes and the module's unloading.
const DWORD kStopMarginMs = 5000;
// How often a stop in progress tells the service manager it is still going.
const std::chrono::milliseconds kStopTick(1000);
constexpr DWORD kMaxPath = 32768;

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    Poco::UnicodeConverter::toUTF16(text, wide);
    return wide;
}

// Quoted for the service's command line, as CommandLineToArgvW splits it (paths end in no '\').
std::wstring Quoted(const std::string& text) {
    return L"\"" + Wide(text) + L"\"";
}

std::wstring OwnPath() {
    std::wstring self(kMaxPath, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, &self[0], kMaxPath);
    self.resize(length < kMaxPath ? length : 0);
    return self;
}

class CServiceHandle {
public:
    explicit CServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~CServiceHandle() {
        if (m_handle != nullptr) {
            ::CloseServiceHandle(m_handle);
        }
    }
    CServiceHandle(const CServiceHandle&) = delete;
    CServiceHandle& operator=(const CServiceHandle&) = delete;
    SC_HANDLE Get() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

int Failed(std::ostream& err, const std::string& what) {
    const DWORD error = ::GetLastError();
    err << "quil-agent: " << what << " (error " << error << ")"
        << (error == ERROR_ACCESS_DENIED ? "; run it from an elevated prompt" : "") << "\n";
    return ExitCode::kFailure;
}

// What the running service shares with the service manager's threads.
struct CRunningService {
    SERVICE_STATUS_HANDLE handle = nullptr;
    CAgentOptions options;
    std::atomic<DWORD> checkPoint{0};
    std::atomic<bool> stopping{false};
    int exitCode = ExitCode::kOk;
    // Reports go out one at a time, and none after SERVICE_STOPPED (the stop ticker may be late).
    std::mutex reporting;
    bool stopped = false;
};

CRunningService& Running() {
    static CRunningService service;
    return service;
}

void Report(DWORD state, DWORD waitHint, DWORD exitCode = NO_ERROR, DWORD specificCode = 0) {
    std::lock_guard<std::mutex> guard(Running().reporting);
    if (Running().stopped) {
        return;
    }
    Running().stopped = state == SERVICE_STOPPED;
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwServiceSpecificExitCode = specificCode;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? ++Running().checkPoint : 0;
    status.dwWaitHint = waitHint;
    ::SetServiceStatus(Running().handle, &status);
}

DWORD StopHint() {
    return static_cast<DWORD>(Running().options.graceMs) + kStopMarginMs;
}

// STOP_PENDING with a fresh check point each second, so the service manager sees the stop go on
// through the whole grace period; ends when the service reports itself stopped.
void TickWhileStopping() {
    std::thread([] {
        while (Running().stopping) {
            Report(SERVICE_STOP_PENDING, StopHint());
            std::this_thread::sleep_for(kStopTick);
        }
    }).detach();
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            if (!Running().stopping.exchange(true)) {
                Report(SERVICE_STOP_PENDING, StopHint());
                CConsoleInput::Interrupt(control == SERVICE_CONTROL_STOP
                                             ? "the service manager's stop request"
                                             : "the computer's shutdown");
                TickWhileStopping();
            }
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    CRunningService& service = Running();
    service.handle = ::RegisterServiceCtrlHandlerExW(Wide(CAgentService::kName).c_str(), &OnControl, nullptr);
    if (service.handle == nullptr) {
        service.exitCode = ExitCode::kSoftware;
        return;
    }
    Report(SERVICE_START_PENDING, kStartHintMs);
    service.exitCode = CAgentApplication(service.options).Run(CAgentApplication::InputEnd::Ignored, [] {
        Report(SERVICE_RUNNING, 0);
    });
    service.stopping = false;
    Report(SERVICE_STOPPED, 0, service.exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR,
           static_cast<DWORD>(service.exitCode));
}

// Waits until the service has stopped, at most its stop hint.
bool StopAndWait(SC_HANDLE service, DWORD hintMs) {
    SERVICE_STATUS status = {};
    if (!::ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        ::GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(hintMs);
    while (::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

}  // namespace

const char* const CAgentService::kName = "quil-agent";

std::string CAgentService::DefaultDatabase() {
    return kServiceDatabase;
}

int CAgentService::Install(const Installation& installation, std::ostream& out, std::ostream& err) {
    const std::wstring self = OwnPath();
    if (self.empty()) {
        return Failed(err, "cannot tell where quil-agent.exe is");
    }
    std::wstring command = L"\"" + self + L"\" run --service --db " + Quoted(installation.database);
    if (!installation.configFile.empty()) {
        command += L" --config " + Quoted(installation.configFile);
    }
    if (!installation.control.empty()) {
        command += L" --control " + Quoted(installation.control);
    }
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (manager.Get() == nullptr) {
        return Failed(err, "cannot open the service manager");
    }
    CServiceHandle service(::CreateServiceW(manager.Get(), Wide(kName).c_str(), kDisplayName,
                                            SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                            SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                            nullptr, nullptr));
    if (service.Get() == nullptr) {
        return ::GetLastError() == ERROR_SERVICE_EXISTS
                   ? (err << "quil-agent: the service " << kName << " is installed already\n",
                      ExitCode::kFailure)
                   : Failed(err, std::string("cannot create the service ") + kName);
    }
    SERVICE_DESCRIPTIONW description = {const_cast<LPWSTR>(kDescription)};
    ::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, &description);
    out << "quil-agent: installed the service " << kName << " (automatic start, LocalSystem), database "
        << installation.database << "; start it with 'sc start " << kName << "'\n";
    return ExitCode::kOk;
}

int CAgentService::Uninstall(std::ostream& out, std::ostream& err) {
    CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr) {
        return Failed(err, "cannot open the service manager");
    }
    CServiceHandle service(
        ::OpenServiceW(manager.Get(), Wide(kName).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service.Get() == nullptr) {
        return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST
                   ? (err << "quil-agent: no service " << kName << " is installed\n", ExitCode::kFailure)
                   : Failed(err, std::string("cannot open the service ") + kName);
    }
    if (!StopAndWait(service.Get(), static_cast<DWORD>(CAgentOptions::kDefaultGraceMs) + kStopMarginMs)) {
        err << "quil-agent: the service " << kName << " did not stop; it is removed once it does\n";
    }
    if (!::DeleteService(service.Get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return Failed(err, std::string("cannot remove the service ") + kName);
    }
    out << "quil-agent: removed the service " << kName << "; its database stays\n";
    return ExitCode::kOk;
}

int CAgentService::Run(const CAgentOptions& options, std::ostream& err) {
    Running().options = options;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(L"quil-agent"), &ServiceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table)) {
        if (::GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            err << "quil-agent: --service is for the service manager, which starts the installed service; "
                   "in a console use 'quil-agent run'\n";
            return ExitCode::kUsage;
        }
        return Failed(err, "cannot reach the service manager");
    }
    return Running().exitCode;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
