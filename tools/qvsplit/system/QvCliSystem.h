// The few host services the program needs: terminal checks, Ctrl-C, environment.
#ifndef QVCLISYSTEM_H
#define QVCLISYSTEM_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// The command-line arguments as UTF-8 (on Windows read again as wide text, since the narrow
// ones are in the ANSI code page), and the console set to show UTF-8 output.
std::vector<std::string> QvCliArguments(int argc, char** argv);
// Whether standard error / standard input is a terminal.
bool QvCliStderrIsTerminal();
bool QvCliStdinIsTerminal();
// Installs the Ctrl-C handler; QvCliInterrupted turns true once Ctrl-C was pressed.
void QvCliInstallInterruptHandler();
bool QvCliInterrupted();
// Sets or removes an environment variable of this process.
void QvCliSetEnv(const std::string& name, const std::string& value);
// A new, empty temporary folder whose name starts with prefix.
std::string QvCliMakeTempDir(const std::string& prefix);

// Size and local last-write time ("%Y%m%d%H%M%S") of a file; false when it does not exist. With
// andOpen, the file is opened for reading and described from what was opened: false also when
// it cannot be opened.
bool QvCliStatFile(const std::string& path, unsigned long long& size, std::string& writeTime,
                   bool& isDir, bool andOpen = false);
// Whether the file at path opens for reading (it is closed again at once).
bool QvCliOpensForReading(const std::string& path);

// One child of a folder as its listing names it.
struct QvCliChild {
    enum Kind { kFile, kFolder, kLink, kOther };
    std::filesystem::path name;  // the name alone
    Kind kind = kOther;          // kOther: a pipe, socket or device, or one that vanished
    uint64_t size = 0;           // a file's bytes
};
// The children of a folder sorted by name. A link is a link, unless followLinks and it names a
// file: then it is that file. False, with ec set, when the folder cannot be listed. On POSIX the
// kind comes from the listing and the size from a look-up beside it, not through the whole path.
bool QvCliListChildren(const std::filesystem::path& folder, bool followLinks, std::vector<QvCliChild>& children,
                       std::error_code& ec);

#endif
