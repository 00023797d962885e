#include "row_files.h"

#include <gtest/gtest.h>

#include <string>

#include "saved_settings.h"

namespace {

TEST(RowFiles, NamesCarryTheWorkerLetterAndThePaddedRowNumber) {
    const saved_settings saved;
    const struct {
        std::string base;
        std::size_t workers, row;
        const char* name;
    } cases[] = {
        {"vm", 4, 0, "vma0000"}, {"vm", 4, 12345, "vmb12345"},      {"vm", 0, 7, "vma0007"},
        {"", 3, 7, "b0007"},     {"out/x y", 2, 3, "out/x yb0003"},
    };
    for (const auto& c : cases) {
        namebase = c.base;
        global_nr_cpus = c.workers;
        EXPECT_EQ(row2basename(c.row), c.name) << c.base << " " << c.workers << " " << c.row;
        char name[64];
        ASSERT_TRUE(row_file_name(name, sizeof name, c.base.c_str(), c.workers, c.row, ".siw"));
        EXPECT_EQ(name, std::string(c.name) + ".siw");
    }
    char name[12];
    EXPECT_FALSE(row_file_name(name, 11, "vm", 4, 0, ".siw"));  // vma0000.siw needs 12 bytes
    EXPECT_TRUE(row_file_name(name, 12, "vm", 4, 0, ".siw"));
}

}  // namespace
