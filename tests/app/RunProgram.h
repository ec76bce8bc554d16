#pragma once

// Runs the built program as a user would and collects what it printed and its exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ProgramRun {
    // 0..255 as the shell sees it (so a return of -1 is 255); 128 + the signal number when the
    // program was killed; -1 when it could not be started.
    int status = -1;
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
};

namespace run_program_detail {

// A new empty file for one captured stream; its descriptor is returned and its path stored.
inline int MakeCaptureFile(std::string& path) {
    std::string name = ::testing::TempDir() + "cihear_capture_XXXXXX";
    const int fd = mkstemp(name.data());
    path = name;
    return fd;
}

inline std::string ReadAndRemove(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    unlink(path.c_str());
    return text.str();
}

}  // namespace run_program_detail

// Runs the program with `args` after the program name, in `workDir` when it is not empty, with
// standard input from /dev/null, and waits for it to end.
inline ProgramRun RunProgram(const std::vector<std::string>& args,
                             const std::string& workDir = "") {
    namespace detail = run_program_detail;
    ProgramRun run;
    std::string outPath, errPath;
    const int outFd = detail::MakeCaptureFile(outPath);
    const int errFd = detail::MakeCaptureFile(errPath);
    const int inFd = open("/dev/null", O_RDONLY);

    std::string exe = CIHEAR_EXE;
    std::vector<std::string> argStore(args);
    std::vector<char*> argv{exe.data()};
    for (std::string& a : argStore) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (outFd >= 0 && errFd >= 0 && inFd >= 0) {
        pid = fork();
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            if ((!workDir.empty() && chdir(workDir.c_str()) != 0) || dup2(inFd, 0) < 0 ||
                dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) {
                _exit(126);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    if (pid > 0) {
        int wstatus = 0;
        pid_t waited;
        while ((waited = waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
        }
        if (waited == pid) {
            run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        }
    }
    for (int fd : {outFd, errFd, inFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    run.out = outFd >= 0 ? detail::ReadAndRemove(outPath) : "";
    run.err = errFd >= 0 ? detail::ReadAndRemove(errPath) : "";
    return run;
}
