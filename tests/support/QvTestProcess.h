// Starts a program as a child process for tests, on POSIX (fork/exec) and Windows (CreateProcess).
#ifndef QVTESTPROCESS_H
#define QVTESTPROCESS_H

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qvtest {

struct ProcessResult {
    int status = -1;   // exit status, or -1 when the program did not exit normally
    int signal = 0;    // the POSIX signal that ended it, if any
    bool timedOut = false;  // killed because it ran past the limit
    std::string out;   // standard output
    std::string err;   // standard error
};

// What a child starts with besides its arguments.
struct ProcessSetup {
    std::filesystem::path scratch;        // folder for the files that take its output
    std::vector<std::string> unset;       // variables removed from the inherited environment
    std::vector<std::string> env;         // "NAME=value" settings added after that
    int runAsUser = -1;                   // POSIX: user (and group) id to run as, when root
};

// One run of a program: standard input from the null device (not a terminal), standard
// output and error into files of the scratch folder. Arguments are UTF-8.
class ChildProcess {
public:
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const ProcessSetup& setup);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether the program could be started at all.
    bool Started() const;
    // Asks the program to stop as Ctrl-C does; false where this host cannot send that to one
    // child alone.
    bool Interrupt();
    // Waits for the end, killing the program after limit, and collects its output.
    ProcessResult Wait(std::chrono::seconds limit);

private:
    std::filesystem::path m_outFile, m_errFile;
    long long m_handle = -1;  // pid on POSIX, process handle on Windows
    bool m_waited = false;
};

// The folder the program under test was built into: QVSPLIT_TEST_BINARY_DIR when set, else the
// parent of the test program's own folder (the build tree keeps tests/ below it).
std::filesystem::path BuildDir();

// A fresh, empty folder below the system's temporary folder.
std::filesystem::path MakeTempFolder(const std::string& prefix);

// UTF-8 text of a path, with the host's own separators.
std::string PathText(const std::filesystem::path& p);

}  // namespace qvtest

#endif
