// The program's output for the bundled example under a handful of option sets, checked against
// committed checksums: a change of a single output bit (a compiler, a math library, a
// refactoring) fails here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p)) {
            out += buffer;
        }
        pclose(p);
    }
    return out;
}

TEST(GoldenOutputTest, ExampleOutputsKeepTheirChecksums) {
    const std::string source = CIHEAR_SOURCE_DIR;
    std::ifstream golden(source + "/tests/app/golden-outputs.txt");
    ASSERT_TRUE(golden.good());
    char dir[] = "/tmp/cihear-golden-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string output = std::string(dir) + "/out.wav";
    std::string line;
    int checked = 0;
    while (std::getline(golden, line)) {
        const std::string want = line.substr(0, 32);
        const std::string options = line.size() > 33 ? line.substr(33) : "";
        std::remove(output.c_str());
        const std::string run = std::string(CIHEAR_EXE) + " -i " + source +
                                "/examples/speech.wav -o " + output + " " + options +
                                " >/dev/null 2>&1 && md5sum < " + output;
        EXPECT_EQ(Capture(run).substr(0, 32), want) << "options: " << options;
        checked++;
    }
    std::remove(output.c_str());
    rmdir(dir);
    EXPECT_GE(checked, 8);
}

}  // namespace
