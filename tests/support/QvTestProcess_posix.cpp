// Child processes on POSIX: fork and exec, with the output redirected to files.
#include "support/QvTestProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qvtest {

std::string ReadOutputFile(const fs::path& file);

namespace {

[[noreturn]] void ExecChild(const fs::path& program, const std::vector<std::string>& args,
                            const ProcessSetup& setup, const fs::path& outFile,
                            const fs::path& errFile) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (setup.runAsUser >= 0 && geteuid() == 0 &&
        (setgid(static_cast<gid_t>(setup.runAsUser)) != 0 || setuid(static_cast<uid_t>(setup.runAsUser)) != 0))
        _exit(125);
    for (const std::string& name : setup.unset) unsetenv(name.c_str());
    for (const std::string& e : setup.env) {
        const size_t eq = e.find('=');
        if (eq != std::string::npos) setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(&a[0]);
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
}

}  // namespace

fs::path OwnProgramPath() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self;
}

ChildProcess::ChildProcess(const fs::path& program, const std::vector<std::string>& args,
                           const ProcessSetup& setup)
    : m_outFile(setup.scratch / "stdout.txt"), m_errFile(setup.scratch / "stderr.txt") {
    const pid_t pid = fork();
    if (pid == 0) ExecChild(program, args, setup, m_outFile, m_errFile);
    m_handle = pid;
}

ChildProcess::~ChildProcess() {
    if (m_handle > 0 && !m_waited) {
        kill(static_cast<pid_t>(m_handle), SIGKILL);
        waitpid(static_cast<pid_t>(m_handle), nullptr, 0);
    }
}

bool ChildProcess::Started() const { return m_handle > 0; }

bool ChildProcess::Interrupt() {
    return m_handle > 0 && kill(static_cast<pid_t>(m_handle), SIGINT) == 0;
}

ProcessResult ChildProcess::Wait(std::chrono::seconds limit) {
    ProcessResult r;
    if (m_handle <= 0 || m_waited) return r;
    const pid_t pid = static_cast<pid_t>(m_handle);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &raw, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            done = -1;
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_waited = true;
    if (done == pid && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    if (done == pid && WIFSIGNALED(raw)) r.signal = WTERMSIG(raw);
    r.out = ReadOutputFile(m_outFile);
    r.err = ReadOutputFile(m_errFile);
    return r;
}

}  // namespace qvtest
