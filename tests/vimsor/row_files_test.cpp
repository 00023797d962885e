#include "row_files.h"

#include <gtest/gtest.h>

#include <string>

#include "saved_settings.h"

namespace {

TEST(RowFiles, NamesCarryTheWorkerLetterAndThePaddedRowNumber) {
    const saved_settings saved;
    struct Case {
        std::string base;
        std::size_t cpus;
        std::size_t row;
        const char* name;
    };
    const Case cases[] = {
        {"vm", 4, 0, "vma0000"},    {"vm", 4, 1, "vmb0001"},           {"vm", 4, 4, "vma0004"},
        {"vm", 4, 10, "vmc0010"},   {"vm", 4, 12345, "vmb12345"},      {"vm", 26, 25, "vmz0025"},
        {"vm", 1, 9999, "vma9999"}, {"vm", 2, 354374, "vma354374"},    {"vm", 0, 7, "vma0007"},
        {"", 3, 7, "b0007"},        {"out/x y", 2, 3, "out/x yb0003"},
    };
    for (const Case& c : cases) {
        namebase = c.base;
        global_nr_cpus = c.cpus;
        EXPECT_EQ(row2basename(c.row), c.name) << c.base << " " << c.cpus << " " << c.row;
        char name[64];
        ASSERT_TRUE(row_file_name(name, sizeof name, c.base.c_str(), c.cpus, c.row, ".siw"));
        EXPECT_EQ(name, std::string(c.name) + ".siw");
    }
    char name[12];
    EXPECT_FALSE(row_file_name(name, 11, "vm", 4, 0, ".siw"));  // vma0000.siw needs 12 bytes
    EXPECT_TRUE(row_file_name(name, 12, "vm", 4, 0, ".siw"));
}

}  // namespace
