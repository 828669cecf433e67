#include "platform/os/serial_windows.h"

#include <atomic>
#include <utility>
#include <windows.h>

namespace nocturo {
namespace {

// The handle of the open port, for the console control handler.
std::atomic<HANDLE> g_open_handle{INVALID_HANDLE_VALUE};

std::string system_text(DWORD error) {
    char buffer[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(error) : text;
}

SerialError::Reason reason_for_open(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return SerialError::Reason::NoSuchPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        // Windows opens a COM port exclusively: "access denied" means that
        // another program has it.
        return SerialError::Reason::Busy;
    default:
        return SerialError::Reason::Other;
    }
}

// Serial drivers let one handle at a time have a port, whatever the share
// mode says, but not every system that runs Windows programs keeps to that.
// A named mutex per port keeps a second Nocturo off it in any case.
HANDLE claim_port(int row, const std::string& device) {
    const std::string port = device.substr(device.find_last_of('\\') + 1);
    const std::wstring name = L"Local\\Nocturo-" + std::wstring(port.begin(), port.end());
    HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
    if (claim == nullptr) {
        const DWORD error = GetLastError();
        throw SerialError(SerialError::Reason::Other, row, device, system_text(error));
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        throw SerialError(SerialError::Reason::Busy, row, device, "another Nocturo has it");
    }
    return claim;
}

} // namespace

SerialError::Reason reason_for_use(DWORD error) {
    switch (error) {
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return SerialError::Reason::LinesRefused;
    // What USB-serial drivers answer on a handle whose device was pulled out.
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
        return SerialError::Reason::Lost;
    default:
        return SerialError::Reason::Other;
    }
}

void apply_line_settings(DCB& dcb) {
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // Both lines under our control only, and both released to begin with.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
}

void SerialLine::release_rts_after_open() {
    try {
        set_rts(false);
    } catch (const SerialError&) {
        try {
            close();
        } catch (const SerialError&) {
            // The refusal to release RTS is the error worth reporting.
        }
        throw;
    }
}

void SerialLine::open(int row, const std::string& device, KeepDtr keep) {
    if (handle_ != nullptr) {
        throw SerialError(SerialError::Reason::Busy, row, device, "the port is already open");
    }
    claim_ = claim_port(row, device);
    const std::wstring path(device.begin(), device.end());
    // Share mode 0: no other program can open the port while we hold it.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    auto fail = [&](SerialError::Reason (*reason)(DWORD)) {
        const DWORD error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
        CloseHandle(std::exchange(claim_, nullptr));
        throw SerialError(reason(error), row, device, system_text(error));
    };
    if (handle == INVALID_HANDLE_VALUE) {
        fail(reason_for_open);
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        fail(reason_for_use);
    }
    apply_line_settings(dcb);
    if (keep == KeepDtr::Yes) {
        // Wine on Linux opens the port as Linux does, raising DTR: it stays.
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (!SetCommState(handle, &dcb)) {
        fail(reason_for_use);
    }

    handle_ = handle;
    row_ = row;
    device_ = device;
    g_open_handle.store(handle);
    // Some drivers raise RTS at open whatever the DCB says.
    release_rts_after_open();
}

void SerialLine::set_line(int line, bool asserted) {
    if (handle_ == nullptr) {
        return;
    }
    const DWORD function = line == 0 ? (asserted ? SETDTR : CLRDTR) : (asserted ? SETRTS : CLRRTS);
    if (!EscapeCommFunction(static_cast<HANDLE>(handle_), function)) {
        const DWORD error = GetLastError();
        throw SerialError(reason_for_use(error), row_, device_, system_text(error));
    }
}

void SerialLine::set_dtr(bool asserted) {
    set_line(0, asserted);
}

void SerialLine::set_rts(bool asserted) {
    set_line(1, asserted);
}

bool SerialLine::is_open() const {
    return handle_ != nullptr;
}

void SerialLine::check() const {
    if (handle_ == nullptr) {
        return;
    }
    // Fails once the device behind the handle has gone. Some drivers fail
    // it for other reasons too; those are no loss.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(static_cast<HANDLE>(handle_), &errors, &status)) {
        const DWORD error = GetLastError();
        if (reason_for_use(error) == SerialError::Reason::Lost) {
            throw SerialError(SerialError::Reason::Lost, row_, device_, system_text(error));
        }
    }
}

void SerialLine::close() {
    if (handle_ == nullptr) {
        return;
    }
    HANDLE handle = static_cast<HANDLE>(handle_);
    handle_ = nullptr;
    g_open_handle.store(INVALID_HANDLE_VALUE);

    DWORD error = 0;
    if (!EscapeCommFunction(handle, CLRDTR) || !EscapeCommFunction(handle, CLRRTS)) {
        error = GetLastError();
    }
    if (!CloseHandle(handle) && error == 0) {
        error = GetLastError();
    }
    CloseHandle(std::exchange(claim_, nullptr));
    if (error != 0) {
        throw SerialError(reason_for_use(error), row_, device_, system_text(error));
    }
}

SerialLine::~SerialLine() {
    try {
        close();
    } catch (const SerialError&) {
        // The handle is closed whatever the system said.
    }
}

void release_serial_line_from_signal() noexcept {
    HANDLE handle = g_open_handle.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) {
        EscapeCommFunction(handle, CLRDTR);
        EscapeCommFunction(handle, CLRRTS);
        CloseHandle(handle);
    }
}

void lower_serial_lines() noexcept {
    HANDLE handle = g_open_handle.load();
    if (handle != INVALID_HANDLE_VALUE) {
        EscapeCommFunction(handle, CLRDTR);
        EscapeCommFunction(handle, CLRRTS);
    }
}

} // namespace nocturo
