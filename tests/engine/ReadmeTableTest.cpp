// The README's option table is documentation of the parameter table: each row's option names,
// default and accepted range must say what the program does.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "params/ValueKinds.h"

namespace {

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::stringstream in(row);
    std::string cell;
    while (std::getline(in, cell, '|')) {
        const size_t a = cell.find_first_not_of(' ');
        const size_t b = cell.find_last_not_of(' ');
        cells.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
    }
    return cells;  // cells[0] is the empty text before the first bar
}

std::string Number(double v) {
    std::ostringstream text;
    text << v;
    return text.str();
}

TEST(ReadmeTableTest, EveryParameterRowMatchesTheTable) {
    std::ifstream readme(std::string(CIHEAR_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(readme.good());
    std::vector<std::string> rows;
    std::string line;
    while (std::getline(readme, line)) {
        if (line.rfind("| `", 0) == 0) {
            rows.push_back(line);
        }
    }
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        std::string option = "`--" + std::string(info.name) + "`";
        if (info.letter) {
            option = "`-" + std::string(1, info.letter) + "`, " + option;
        }
        const std::string* found = nullptr;
        for (const std::string& row : rows) {
            if (Cells(row).size() > 5 && Cells(row)[1] == option) {
                found = &row;
            }
        }
        ASSERT_NE(found, nullptr) << "no README row for " << option;
        const std::vector<std::string> cells = Cells(*found);
        if (info.kind == cihear::ValueKind::kChoice) {
            const std::vector<std::string> names = params::ChoiceNames(info);
            std::string all;
            for (const std::string& name : names) {
                all += (all.empty() ? "" : ", ") + name;
            }
            EXPECT_EQ(cells[4], names.at(static_cast<size_t>(info.defaultValue))) << info.name;
            EXPECT_EQ(cells[5], all) << info.name;
            continue;
        }
        if (info.kind == cihear::ValueKind::kList) {
            EXPECT_EQ(cells[4], "none") << info.name;
        } else {
            EXPECT_EQ(cells[4], Number(info.defaultValue)) << info.name;
        }
        if (info.kind == cihear::ValueKind::kSwitch) {
            EXPECT_EQ(cells[5], "–") << info.name;
        } else if (info.kind == cihear::ValueKind::kCount && info.max == 1) {
            EXPECT_EQ(cells[5], "0 or 1") << info.name;
        } else {
            EXPECT_EQ(cells[5].rfind(Number(info.min) + " to " + Number(info.max), 0), 0u)
                << info.name << ": " << cells[5];
        }
    }
}

}  // namespace
