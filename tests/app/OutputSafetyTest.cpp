// The promise about the output: a run writes the whole file or leaves everything as it was, and
// no input or output makes it hang. Signals while writing, links, long names, FIFOs, flushing
// to stable storage, and the writer as other front ends call it. (A write beyond the file size
// limit is in RunTest.)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/RunProgram.h"
#include "app/RunTestUtil.h"
#include "io/AtomicOutput.h"
#include "io/WaveOutput.h"

using namespace runtest;

namespace {

const std::string untilWriting =
    "Starting... Loading input signal... Done\nStarting simulation... Done\nWriting to file... ";

class OutputSafetyTest : public wavtest::TempDirTest {
protected:
    std::vector<std::string> Command(const std::vector<std::string>& args) const {
        std::vector<std::string> command{CIHEAR_EXE};
        command.insert(command.end(), args.begin(), args.end());
        return command;
    }
    ProgramRun Run(const std::vector<std::string>& args) { return RunProgram(args, dir.string()); }

    void Input(const std::string& name, uint32_t frames) {
        Write(name, Wav16(1, 20000, Tone(20000, frames)));
    }

    bool IsLink(const std::string& name) const {
        struct stat st;
        return lstat(Path(name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }

    // Checks that `name` holds a complete output of n samples.
    void ExpectOutput(const std::string& name, uint32_t n) {
        const Bytes file = Read(Path(name));
        const Bytes header = OutputHeader(n);
        ASSERT_EQ(file.size(), header.size() + 2 * size_t(n)) << name;
        EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin())) << name;
    }
};

// Starts the program writing out.wav (which holds `previous`) from in.wav, stops it once the
// temporary has appeared and while it still exists, sends sig and lets it go on. Returns how the
// run ended, or a run with status -1 when the write could not be caught in the act.
ProgramRun SignalWhileWriting(
    const std::filesystem::path& dir, const std::vector<std::string>& command, int sig,
    const std::vector<int>& ignored, const std::function<void()>& setUp = [] {}) {
    // On a busy machine the program may finish before it is stopped: each attempt starts again
    // from what the caller set up (an attempt that went through has replaced out.wav).
    for (int attempt = 0; attempt < 20; attempt++) {
        setUp();
        const std::set<std::string> before = Entries(dir);
        // Every file made in the directory is reported at once, so the program is stopped while
        // it writes, before the rename.
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch < 0 || inotify_add_watch(watch, dir.c_str(), IN_CREATE) < 0) {
            ADD_FAILURE() << "inotify not available";
            return {};
        }
        Program program(command, dir.string(), ignored);
        bool caught = false;
        while (!caught && program.Running()) {
            pollfd p{watch, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char events[4096];
                (void)read(watch, events, sizeof events);
                caught = program.Stop();
            }
        }
        close(watch);
        if (!caught) {
            return {};  // ended before anything was made: something else went wrong
        }
        const std::set<std::string> now = Entries(dir);
        const bool inTheWindow = now.size() == before.size() + 1;
        if (inTheWindow) {
            program.Signal(sig);
        }
        program.Signal(SIGCONT);
        ProgramRun run = program.Finish(60);
        if (inTheWindow) {
            return run;
        }
        // Stopped after the rename: try again.
    }
    return {};
}

TEST_F(OutputSafetyTest, SignalsWhileWritingRemoveTheTemporary) {
    // 30 s of sound: a 1.2 MB output, enough to stop the program while it writes it.
    const uint32_t frames = 600000;
    Input("in.wav", frames);
    const Bytes previous = wavtest::Text("an earlier result");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const ProgramRun run = SignalWhileWriting(dir, Command({"-i", "in.wav", "-o", "out.wav"}),
                                                  sig, {}, [&] { Write("out.wav", previous); });
        // Ended by the signal as without a handler, after removing the temporary.
        EXPECT_EQ(run.status, 128 + sig);
        EXPECT_EQ(run.out, untilWriting);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(Read(Path("out.wav")), previous);
        EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "out.wav"}));
    }
    {
        // A signal the program was started ignoring (nohup, a background job) stays ignored.
        SCOPED_TRACE("SIGINT and SIGHUP ignored");
        const ProgramRun run = SignalWhileWriting(dir, Command({"-i", "in.wav", "-o", "out.wav"}),
                                                  SIGINT, {SIGINT, SIGHUP});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, untilWriting + "Done\n");
        ExpectOutput("out.wav", frames);
        EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "out.wav"}));
    }
}

TEST_F(OutputSafetyTest, ALinkIsFollowedToItsEndAndTheFileThereReplacedWhole) {
    Input("in.wav", 20000);
    // out.wav -> sub/chain.wav -> made.wav, which is sub/made.wav: each link read from its own
    // directory, the last one dangling.
    std::filesystem::create_directory(dir / "sub");
    ASSERT_EQ(symlink("sub/chain.wav", Path("out.wav").c_str()), 0);
    ASSERT_EQ(symlink("made.wav", Path("sub/chain.wav").c_str()), 0);
    {
        // The result cannot be written in full there: nothing at all is made.
        SCOPED_TRACE("write fails");
        ProgramRun run;
        {
            ScopedLimit limit(RLIMIT_FSIZE, 16384);
            ASSERT_TRUE(limit.ok());
            run = Run({"-i", "in.wav", "-o", "out.wav"});
        }
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, "error: could not write samples to file\n");
        EXPECT_EQ(Entries(dir / "sub"), std::set<std::string>{"chain.wav"});
    }
    {
        SCOPED_TRACE("write succeeds");
        const ProgramRun run = Run({"-i", "in.wav", "-o", "out.wav"});
        EXPECT_EQ(run.status, 0) << run.err;
        ExpectOutput("sub/made.wav", 20000);
        EXPECT_EQ(Entries(dir / "sub"), (std::set<std::string>{"chain.wav", "made.wav"}));
    }
    EXPECT_TRUE(IsLink("out.wav"));
    EXPECT_TRUE(IsLink("sub/chain.wav"));
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "out.wav", "sub"}));
}

TEST_F(OutputSafetyTest, AnyLegalNameWorks) {
    Input("in.wav", 2000);
    const std::string longest = std::string(251, 'n') + ".wav";  // 255 bytes
    for (int run = 0; run < 2; run++) {                          // made, then replaced
        SCOPED_TRACE(run);
        const ProgramRun r = Run({"-i", "in.wav", "-o", longest});
        EXPECT_EQ(r.status, 0) << r.err;
        ExpectOutput(longest, 2000);
        EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", longest}));
    }
}

TEST_F(OutputSafetyTest, FifosAreRefusedAtOnce) {
    Input("in.wav", 200);
    ASSERT_EQ(mkfifo(Path("in.fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(Path("out.fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("out.fifo", Path("fifo.wav").c_str()), 0);
    const std::string openInput = "error: could not open file\n";
    const std::string openOutput = "error: could not open file to write\n";
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* peer;  // the FIFO the test holds open, if any
        int peerFlags;
        std::string err;
    } cases[] = {
        {"input, no writer", {"-i", "in.fifo", "-o", "out.wav"}, nullptr, 0, openInput},
        {"input, a writer", {"-i", "in.fifo", "-o", "out.wav"}, "in.fifo", O_RDWR, openInput},
        {"output, no reader", {"-i", "in.wav", "-o", "out.fifo"}, nullptr, 0, openOutput},
        {"output, a reader", {"-i", "in.wav", "-o", "out.fifo"}, "out.fifo", O_RDONLY, openOutput},
        {"output through a link",
         {"-i", "in.wav", "-o", "fifo.wav"},
         "out.fifo",
         O_RDONLY,
         openOutput},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int peer = c.peer ? open(Path(c.peer).c_str(), c.peerFlags | O_NONBLOCK) : -1;
        ASSERT_TRUE(!c.peer || peer >= 0);
        const ProgramRun run =
            Program(Command(c.args), dir.string()).Finish(1.0);  // a hang is a failure
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, c.err);
        if (peer >= 0) {
            char byte;
            EXPECT_LE(read(peer, &byte, 1), 0);  // nothing was written to it
            close(peer);
        }
    }
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "in.fifo", "out.fifo", "fifo.wav"}));
}

// The directory holding `program` on the search path, or an empty text.
std::string OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string d; std::getline(dirs, d, ':');) {
        const std::string candidate = (d.empty() ? "." : d) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

TEST_F(OutputSafetyTest, TheFileIsFlushedBeforeTheRenameAndTheDirectoryAfterIt) {
    const std::string strace = OnPath("strace");
    if (strace.empty()) {
        GTEST_SKIP() << "strace is not installed";
    }
    Input("in.wav", 2000);
    const std::string trace = ::testing::TempDir() + "cihear_strace_" + std::to_string(getpid());
    std::vector<std::string> command{
        strace, "-f", "-o", trace, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2"};
    // LeakSanitizer refuses to run under a tracer; the other sanitizers do not mind.
    const char* asan = std::getenv("ASAN_OPTIONS");
    command.insert(command.end(), {"-E", std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                                             (asan && *asan ? ":" : "") + "detect_leaks=0"});
    const std::vector<std::string> program = Command({"-i", "in.wav", "-o", "out.wav"});
    command.insert(command.end(), program.begin(), program.end());
    const ProgramRun run = Program(command, dir.string()).Finish(60);
    std::ifstream in(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    unlink(trace.c_str());
    if (run.status != 0 && run.err.find("ptrace") != std::string::npos) {
        GTEST_SKIP() << "strace cannot trace here: " << run.err;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectOutput("out.wav", 2000);

    // Successful calls only: the flushes, and the rename of a temporary onto out.wav.
    const auto succeeded = [](const std::string& l) { return l.find(" = 0") != std::string::npos; };
    int rename = -1, flushBefore = -1, flushAfter = -1;
    for (int i = 0; i < int(lines.size()); i++) {
        const std::string& l = lines[i];
        if (!succeeded(l)) {
            continue;
        }
        if (l.find("rename") != std::string::npos && l.find("\"out.wav.") != std::string::npos &&
            l.find("\"out.wav\"") != std::string::npos) {
            rename = i;
        } else if (l.find("sync(") != std::string::npos) {
            (rename < 0 ? flushBefore : flushAfter) = i;
        }
    }
    std::string all;
    for (const std::string& l : lines) {
        all += l + "\n";
    }
    EXPECT_GE(flushBefore, 0) << all;
    EXPECT_GE(rename, 0) << all;
    EXPECT_GT(flushAfter, rename) << all;
}

// ---------------------------------------------------------------------------------------------
// The writer as the library's other front ends call it.

TEST_F(OutputSafetyTest, TheLibraryWritesTheProgramsBytes) {
    Input("in.wav", 3000);
    ASSERT_EQ(Run({"-i", "in.wav", "-o", "program.wav"}).status, 0);
    const Bytes program = Read(Path("program.wav"));
    std::vector<short> samples = SamplesAfterHeader(program);
    std::vector<int16_t> values(samples.begin(), samples.end());
    EXPECT_EQ(WriteMonoWave16(Path("library.wav").c_str(), values.data(), values.size(), 20000),
              WaveWriteResult::Written);
    EXPECT_EQ(Read(Path("library.wav")), program);
    EXPECT_EQ(WriteMonoWave16(Path("none/x.wav").c_str(), values.data(), values.size(), 20000),
              WaveWriteResult::CouldNotOpen);
    EXPECT_EQ(WriteMonoWave16("/dev/full", values.data(), values.size(), 20000),
              WaveWriteResult::CouldNotWrite);

    // Plain bytes: a new file, then one replaced keeping its permissions.
    const std::string text = "some bytes";
    ASSERT_TRUE(WriteFileAtomically(Path("plain"), text.data(), text.size()));
    EXPECT_EQ(Read(Path("plain")), Bytes(text.begin(), text.end()));
    ASSERT_EQ(chmod(Path("plain").c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(Path("plain"), "x", 1));
    EXPECT_EQ(Read(Path("plain")), Bytes{'x'});
    struct stat st;
    ASSERT_EQ(stat(Path("plain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(WriteFileAtomically("/dev/null", "x", 1));
    EXPECT_FALSE(WriteFileAtomically(Path("none/plain"), "x", 1));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(WriteFileAtomically(Path("fifo"), "x", 1));  // no reader: refused, not blocked
    EXPECT_EQ(Entries(dir),
              (std::set<std::string>{"in.wav", "program.wav", "library.wav", "plain", "fifo"}));
}

struct sigaction Disposition(int sig) {
    struct sigaction action;
    sigaction(sig, nullptr, &action);
    return action;
}

bool Default(int sig) {
    return Disposition(sig).sa_handler == SIG_DFL;
}

TEST_F(OutputSafetyTest, SignalsAreTakenOverOnlyWhileATemporaryExists) {
    // Whatever the test runner was started with: the defaults, except SIGHUP ignored, which
    // must stay ignored.
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
    struct sigaction saved[4];
    for (int i = 0; i < 4; i++) {
        saved[i] = Disposition(signals[i]);
        signal(signals[i], signals[i] == SIGHUP ? SIG_IGN : SIG_DFL);
    }
    {
        AtomicOutput first(Path("a.wav"));
        AtomicOutput second(Path("b.wav"));
        ASSERT_TRUE(first.Ready() && second.Ready());
        EXPECT_FALSE(Default(SIGINT));
        EXPECT_FALSE(Default(SIGTERM));
        EXPECT_EQ(Disposition(SIGHUP).sa_handler, SIG_IGN);
        EXPECT_EQ(Disposition(SIGXFSZ).sa_handler, SIG_IGN);
        EXPECT_EQ(Entries(dir).size(), 2u);  // the two temporaries
        ASSERT_TRUE(first.Commit());
        // The other temporary still exists.
        EXPECT_FALSE(Default(SIGINT));
        EXPECT_EQ(Disposition(SIGXFSZ).sa_handler, SIG_IGN);
    }
    EXPECT_TRUE(Default(SIGINT));
    EXPECT_TRUE(Default(SIGTERM));
    EXPECT_EQ(Disposition(SIGHUP).sa_handler, SIG_IGN);
    EXPECT_TRUE(Default(SIGXFSZ));
    // The committed file is there, empty; the abandoned one is gone.
    EXPECT_EQ(Entries(dir), std::set<std::string>{"a.wav"});
    // Writing directly to a device takes nothing over.
    {
        AtomicOutput device("/dev/null");
        EXPECT_TRUE(device.Direct());
        EXPECT_TRUE(Default(SIGINT));
    }
    for (int i = 0; i < 4; i++) {
        sigaction(signals[i], &saved[i], nullptr);
    }
}

}  // namespace
