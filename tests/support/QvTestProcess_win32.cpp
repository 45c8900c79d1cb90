// Child processes on Windows: CreateProcess with inherited file handles for the output.
#include "support/QvTestProcess.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace qvtest {

std::string ReadOutputFile(const fs::path& file);

namespace {

// The output as a POSIX program writes it: a Windows program's text streams end lines with
// "\r\n", which the tests need not tell apart.
std::string ReadAll(const fs::path& file) {
    const std::string s = ReadOutputFile(file);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

std::wstring Widen(const std::string& s) { return fs::u8path(s).wstring(); }

// One argument quoted so that the C runtime's parser gives it back unchanged.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double before a quote, which itself is escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// The parent's environment with the setup's changes, as a sorted block CreateProcess takes.
std::wstring EnvironmentBlock(const ProcessSetup& setup) {
    std::map<std::wstring, std::wstring> vars;  // upper-cased name -> "Name=value"
    auto upper = [](std::wstring s) {
        for (wchar_t& c : s) c = static_cast<wchar_t>(towupper(c));
        return s;
    };
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; p && *p; p += wcslen(p) + 1) {
        const std::wstring entry = p;
        const size_t eq = entry.find(L'=', 1);  // "=C:=C:\dir" entries start with '='
        if (eq != std::wstring::npos) vars[upper(entry.substr(0, eq))] = entry;
    }
    if (strings) FreeEnvironmentStringsW(strings);
    for (const std::string& name : setup.unset) vars.erase(upper(Widen(name)));
    for (const std::string& e : setup.env) {
        const std::wstring entry = Widen(e);
        const size_t eq = entry.find(L'=');
        if (eq != std::wstring::npos) vars[upper(entry.substr(0, eq))] = entry;
    }
    std::wstring block;
    for (const auto& v : vars) {
        block += v.second;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

HANDLE Inheritable(const fs::path& file, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(file.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

fs::path OwnProgramPath() {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    return (n == 0 || n >= MAX_PATH * 4) ? fs::path() : fs::path(std::wstring(buffer, n));
}

// Each child writes to files of its own: a file an earlier child left open (Wine may still be
// tearing that process down) cannot then keep the next one from starting.
static fs::path OutputFile(const fs::path& scratch, const char* stream) {
    static std::atomic<unsigned> s_nFile{0};
    return scratch / (std::string(stream) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(++s_nFile) + ".txt");
}

ChildProcess::ChildProcess(const fs::path& program, const std::vector<std::string>& args,
                           const ProcessSetup& setup)
    : m_outFile(OutputFile(setup.scratch, "stdout")), m_errFile(OutputFile(setup.scratch, "stderr")) {
    std::wstring line = Quote(program.wstring());
    for (const std::string& a : args) line += L" " + Quote(Widen(a));
    std::wstring env = EnvironmentBlock(setup);
    // Wine, busy with other programs, now and then fails to start one: a few more tries, a
    // moment apart, before the test is told it did not start.
    for (int attempt = 0; attempt < 5 && m_handle == -1; ++attempt) {
        if (attempt > 0) Sleep(200);
        HANDLE in = Inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
        HANDLE out = Inheritable(m_outFile, GENERIC_WRITE, CREATE_ALWAYS);
        HANDLE err = Inheritable(m_errFile, GENERIC_WRITE, CREATE_ALWAYS);
        if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
            STARTUPINFOW si{};
            si.cb = sizeof si;
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdInput = in;
            si.hStdOutput = out;
            si.hStdError = err;
            PROCESS_INFORMATION pi{};
            std::wstring command = line;  // CreateProcessW may write into it
            if (CreateProcessW(program.wstring().c_str(), &command[0], nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT, &env[0], nullptr, &si, &pi)) {
                CloseHandle(pi.hThread);
                m_handle = reinterpret_cast<long long>(pi.hProcess);
            }
        }
        for (HANDLE h : {in, out, err})
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
}

ChildProcess::~ChildProcess() {
    if (m_handle == -1) return;
    HANDLE process = reinterpret_cast<HANDLE>(m_handle);
    if (!m_waited) {
        TerminateProcess(process, 137);
        WaitForSingleObject(process, INFINITE);
    }
    CloseHandle(process);
}

bool ChildProcess::Started() const { return m_handle != -1; }

// Ctrl-C reaches every process of a console, never one child alone.
bool ChildProcess::Interrupt() { return false; }

ProcessResult ChildProcess::Wait(std::chrono::seconds limit) {
    ProcessResult r;
    if (m_handle == -1 || m_waited) return r;
    HANDLE process = reinterpret_cast<HANDLE>(m_handle);
    const DWORD ms = static_cast<DWORD>(std::chrono::milliseconds(limit).count());
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) {
        TerminateProcess(process, 137);
        WaitForSingleObject(process, INFINITE);
        r.timedOut = true;
    } else {
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code)) r.status = static_cast<int>(code);
    }
    m_waited = true;
    r.out = ReadAll(m_outFile);
    r.err = ReadAll(m_errFile);
    return r;
}

}  // namespace qvtest
