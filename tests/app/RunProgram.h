#pragma once

// Runs the built program as a user would and collects what it printed and its exit status.
// The program starts as from a user's shell: every signal at its default disposition and none
// blocked, whatever the test process itself has set, unless a test asks for some to be ignored
// (as nohup or a background job would).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct ProgramRun {
    // 0..255 as the shell sees it (so a return of -1 is 255); 128 + the signal number when the
    // program was killed; -1 when it could not be started.
    int status = -1;
    std::string out;        // everything written to standard output
    std::string err;        // everything written to standard error
    bool timedOut = false;  // killed by Finish because it ran longer than allowed
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

inline int ShellStatus(int wstatus) {
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

}  // namespace run_program_detail

// One started process: command[0] is the executable's path, the rest its arguments. It runs in
// workDir when that is not empty, with standard input from /dev/null and its output captured.
// A process still running when the object goes is killed.
class Program {
public:
    explicit Program(const std::vector<std::string>& command, const std::string& workDir = "",
                     const std::vector<int>& ignoredSignals = {}) {
        namespace detail = run_program_detail;
        outFd = detail::MakeCaptureFile(outPath);
        errFd = detail::MakeCaptureFile(errPath);
        const int inFd = open("/dev/null", O_RDONLY);
        std::vector<std::string> argStore(command);
        std::vector<char*> argv;
        for (std::string& a : argStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (outFd >= 0 && errFd >= 0 && inFd >= 0 && !command.empty()) {
            pid = fork();
            if (pid == 0) {
                // Only async-signal-safe calls between fork and exec.
                for (int s = 1; s < NSIG; s++) {
                    if (s != SIGKILL && s != SIGSTOP) {
                        signal(s, SIG_DFL);
                    }
                }
                for (int s : ignoredSignals) {
                    signal(s, SIG_IGN);
                }
                sigset_t none;
                sigemptyset(&none);
                sigprocmask(SIG_SETMASK, &none, nullptr);
                if ((!workDir.empty() && chdir(workDir.c_str()) != 0) || dup2(inFd, 0) < 0 ||
                    dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) {
                    _exit(126);
                }
                execv(argv[0], argv.data());
                _exit(127);
            }
        }
        if (inFd >= 0) {
            close(inFd);
        }
    }
    ~Program() {
        if (pid > 0 && !finished) {
            kill(pid, SIGKILL);
            Finish();
        }
        Cleanup();
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return pid > 0; }
    // Whether the process has not ended yet (one that has is reaped here).
    bool Running() {
        int wstatus = 0;
        if (pid > 0 && !finished && waitpid(pid, &wstatus, WNOHANG) == pid) {
            Ended(wstatus);
        }
        return pid > 0 && !finished;
    }
    bool Signal(int sig) { return Running() && kill(pid, sig) == 0; }
    // Stops the process (SIGSTOP) and returns once it is stopped: true then, false when it ended
    // instead. SIGCONT resumes it; signals sent meanwhile are delivered then.
    bool Stop() {
        if (!Signal(SIGSTOP)) {
            return false;
        }
        int wstatus = 0;
        pid_t waited;
        while ((waited = waitpid(pid, &wstatus, WUNTRACED)) < 0 && errno == EINTR) {
        }
        if (waited == pid && WIFSTOPPED(wstatus)) {
            return true;
        }
        if (waited == pid) {
            Ended(wstatus);
        }
        return false;
    }

    // Waits for the process to end, at most `seconds` when that is above 0: a process still
    // running then is killed, and the run says it timed out.
    ProgramRun Finish(double seconds = 0) {
        namespace detail = run_program_detail;
        ProgramRun run;
        run.status = status;
        if (pid > 0 && !finished) {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
            int wstatus = 0;
            for (;;) {
                const pid_t waited = waitpid(pid, &wstatus, seconds > 0 ? WNOHANG : 0);
                if (waited == pid) {
                    Ended(wstatus);
                    run.status = status;
                    break;
                }
                if (waited < 0 && errno != EINTR) {
                    break;
                }
                if (waited == 0 && std::chrono::steady_clock::now() >= deadline) {
                    kill(pid, SIGKILL);
                    run.timedOut = timedOut = true;
                    seconds = 0;  // now wait for it to go
                } else if (waited == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
            finished = true;
        }
        Cleanup();
        run.timedOut = timedOut;
        run.out = captured[0];
        run.err = captured[1];
        return run;
    }

private:
    void Ended(int wstatus) {
        status = run_program_detail::ShellStatus(wstatus);
        finished = true;
    }

    void Cleanup() {
        namespace detail = run_program_detail;
        if (outFd >= 0) {
            close(outFd);
            captured[0] = detail::ReadAndRemove(outPath);
            outFd = -1;
        }
        if (errFd >= 0) {
            close(errFd);
            captured[1] = detail::ReadAndRemove(errPath);
            errFd = -1;
        }
    }

    pid_t pid = -1;
    bool finished = false;
    int status = -1;
    bool timedOut = false;
    int outFd = -1, errFd = -1;
    std::string outPath, errPath;
    std::string captured[2];
};

// Runs the program with `args` after the program name, in `workDir` when it is not empty, with
// standard input from /dev/null, and waits for it to end.
inline ProgramRun RunProgram(const std::vector<std::string>& args,
                             const std::string& workDir = "") {
    std::vector<std::string> command{CIHEAR_EXE};
    command.insert(command.end(), args.begin(), args.end());
    return Program(command, workDir).Finish();
}
