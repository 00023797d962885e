// The text readers read every form of number as sscanf's %lf does: plain
// decimals on their fast path, signs, hex, exponents and numbers run
// together through sscanf itself.

#include "nevra.h"
#include "nevra_tm4.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// Every token is meant as one value; some are read by sscanf as two.
const std::vector<std::string> forms = {"12", "-7", "+5", "0x1A", "1e3", "-.5", "7.", "2.9", "-2.9",
                                        "1E+2", "00031", "-0", "6.5e-1", "3.0000000001"};

std::vector<double> sscanf_values(const std::string& text) {
    std::vector<double> values;
    const char* p = text.c_str();
    double value = 0.0;
    int used = 0;
    while (std::sscanf(p, "%lf%n", &value, &used) == 1) {
        values.push_back(value);
        p += used;
    }
    return values;
}

TEST(NumberForms, Tm4DataLinesReadAsSscanfReadsThem) {
    // Each line: a time and three values, the middle one of every form.
    testwriters::Tm4File file;
    file.comment(testwriters::tm4_comment(20, "kiruna"));
    std::vector<std::vector<double>> expected;
    for (size_t i = 0; i < forms.size(); ++i) {
        const std::string line = std::to_string(100 + i) + ".5 4 " + forms[i] + " -9";
        file.raw(line);
        expected.push_back(sscanf_values(line));
    }
    file.raw("120.5 5-3 8");  // numbers run together: "5-3" is 5 and -3
    testrun::TempDir dir;
    file.save(dir / "forms.tm4");
    const Nevra::NEVRA_TM4 recording((dir / "forms.tm4").c_str(), 0.0);
    ASSERT_EQ(recording.get_time().size(), forms.size() + 1);
    for (size_t i = 0; i < forms.size(); ++i) {
        SCOPED_TRACE(forms[i]);
        ASSERT_EQ(expected[i].size(), 4u);
        EXPECT_EQ(recording.get_time()[i], expected[i][0]);
        for (size_t c = 0; c < 3; ++c)
            EXPECT_EQ(recording.get_data(c)[i], static_cast<int32_t>(expected[i][c + 1]));
    }
    EXPECT_EQ(recording.get_data(0).back(), 5);
    EXPECT_EQ(recording.get_data(1).back(), -3);
}

TEST(NumberForms, LegacyAsciiSamplesReadAsSscanfReadsThem) {
    std::string line = "5 7";
    for (size_t k = 0; k < 512; ++k)
        line += " " + forms[k % forms.size()];
    const std::vector<double> expected = sscanf_values(line);
    ASSERT_EQ(expected.size(), 514u);
    testrun::TempDir dir;
    const auto path = dir / "forms.da1";
    testrun::write_file(path, "!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00\n" +
                                  line + "\n" + line + "\n" + line + "\n");
    const std::unique_ptr<Nevra::NEVRA> reader(Nevra::detect(path.c_str(), false, false, false));
    ASSERT_EQ(reader->getdata(), 0);
    for (size_t c = 0; c < 3; ++c)
        for (size_t k = 0; k < 512; ++k)
            ASSERT_EQ(reader->current[c][k], expected[k + 2]) << "channel " << c << " value " << k;
}

}  // namespace
