#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run.h"

namespace {

const std::string normal_options = "-p512i0.05v0.05";

// A job file as the driver writes it: normal form with the size line and
// offset/value pairs, test form with values only.
std::string job_text(const std::vector<double>& samples, bool test_form) {
    std::ostringstream s;
    if (!test_form)
        s << samples.size() << "\n";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (!test_form)
            s << i / 20.0 << " ";
        s << samples[i] << "\n";
    }
    return s.str();
}

// The numbers of a result file as the driver's collection reads them.
std::vector<double> numbers_of(const std::filesystem::path& file) {
    std::istringstream in(testrun::read_file(file));
    std::vector<double> numbers;
    for (double v; in >> v;)
        numbers.push_back(v);
    return numbers;
}

long lines_of(const std::filesystem::path& file) {
    const std::string text = testrun::read_file(file);
    return std::count(text.begin(), text.end(), '\n');
}

// 512 samples repeating the values of pattern, shifted by offset.
std::vector<double> repeating(std::vector<double> pattern, double offset) {
    std::vector<double> samples;
    for (std::size_t i = 0; i < 512; ++i)
        samples.push_back(pattern[i % pattern.size()] + offset);
    return samples;
}

void expect_series(const std::filesystem::path& file, const std::vector<double>& pattern) {
    const std::vector<double> numbers = numbers_of(file);
    ASSERT_EQ(numbers.size(), 512u) << file;
    for (std::size_t i = 0; i < numbers.size(); ++i)
        ASSERT_NEAR(numbers[i], pattern[i % pattern.size()], 1e-9) << file << " value " << i;
    EXPECT_EQ(lines_of(file), 512) << file;
}

TEST(MavlinStandIn, WithoutArgumentsNamesItselfAsStandIn) {
    testrun::TempDir dir;
    const testrun::Result r = testrun::run("mavlin", {}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("mavlin"), std::string::npos);
    EXPECT_NE(r.out.find("stand-in"), std::string::npos);
    EXPECT_NE(r.out.find("usage: mavlin"), std::string::npos);
}

TEST(MavlinStandIn, NormalFormGivesDeviationsFromTheMeanAndTheirStrongPart) {
    testrun::TempDir dir;
    // Mean 1000, magnitudes 8 and 2, population deviation sqrt(34).
    testrun::write_file(dir / "vma0000.dat", job_text(repeating({8, 2, -8, -2}, 1000), false));
    const testrun::Result r = testrun::run("mavlin", {"--swatch", "-#2sf128", "-p512i0.05v0.5", "vma0000.dat"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expect_series(dir / "vma0000.siw", {8, 2, -8, -2});
    expect_series(dir / "vma0000.sis", {8, 0, -8, 0});
    const std::vector<double> summary = numbers_of(dir / "vma0000.kto");
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_DOUBLE_EQ(summary[0], 1000.0);
    EXPECT_DOUBLE_EQ(summary[1], std::sqrt(34.0));
    EXPECT_EQ(lines_of(dir / "vma0000.kto"), 1);
}

TEST(MavlinStandIn, ThresholdKeepsMagnitudesFromItsShareOfTheLargestOn) {
    testrun::TempDir dir;
    testrun::write_file(dir / "vm0.dat", job_text(repeating({8, 2, -8, -2}, 0), false));
    // 0.25 of 8 is 2: the magnitude 2 is kept, the threshold is inclusive.
    ASSERT_EQ(testrun::run("mavlin", {"-#2sf128", "-p512i0.05v0.25w0.1", "-#", "vm0.dat"}, dir.path()).status, 0);
    expect_series(dir / "vm0.sis", {8, 2, -8, -2});
    ASSERT_EQ(testrun::run("mavlin", {"-#2sf128", "-p512i0.05v1", "vm0.dat"}, dir.path()).status, 0);
    expect_series(dir / "vm0.sis", {8, 0, -8, 0});
}

TEST(MavlinStandIn, TestFormAndStandardDeviationNormalisation) {
    const std::pair<const char*, std::vector<double>> cases[] = {{"o", {3, -3}}, {"oz1", {1, -1}}, {"z1o", {1, -1}}, {"oz2", {9, -9}}};
    for (const auto& [suffix, weak] : cases) {
        testrun::TempDir dir;
        // Mean 10, deviation 3.
        testrun::write_file(dir / "vmb0001.dat", job_text(repeating({13, 7}, 0), true));
        const testrun::Result r =
            testrun::run("mavlin", {"--swatch", std::string("-#2sf128") + suffix, normal_options, "vmb0001.dat"}, dir.path());
        EXPECT_EQ(r.status, 0) << suffix << ": " << r.err;
        expect_series(dir / "vmb0001.siw", weak);
        expect_series(dir / "vmb0001.sis", weak);
    }
}

TEST(MavlinStandIn, ConstantBlockDividedByItsZeroDeviationStaysZero) {
    testrun::TempDir dir;
    testrun::write_file(dir / "c.dat", job_text(std::vector<double>(512, -200.0), true));
    ASSERT_EQ(testrun::run("mavlin", {"-#2sf128oz1", normal_options, "c.dat"}, dir.path()).status, 0);
    expect_series(dir / "c.siw", {0});
    expect_series(dir / "c.sis", {0});
    EXPECT_EQ(numbers_of(dir / "c.kto"), (std::vector<double>{-200.0, 0.0}));
}

TEST(MavlinStandIn, MissingNamesAreSkippedWithANoteAndTheOthersAnalysed) {
    testrun::TempDir dir;
    testrun::write_file(dir / "vma0000.dat", job_text(repeating({1, -1}, 0), false));
    testrun::write_file(dir / "vma0002.dat", job_text(repeating({2, -2}, 0), false));
    const testrun::Result r =
        testrun::run("mavlin", {"--swatch", "-#2sf128", normal_options, "vma0000.dat", "vmb????.dat", "vma0002.dat"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "mavlin: skipping vmb????.dat: no such file\n");
    expect_series(dir / "vma0000.siw", {1, -1});
    expect_series(dir / "vma0002.siw", {2, -2});
}

TEST(MavlinStandIn, JobFilesOfTheWrongFormLeaveNoResults) {
    testrun::TempDir dir;
    testrun::write_file(dir / "t.dat", job_text(repeating({1, -1}, 0), true));
    testrun::write_file(dir / "short.dat", "512\n0 1\n0.05 2\n");
    testrun::write_file(dir / "text.dat", "512\n0 one\n");
    for (const char* name : {"t.dat", "short.dat", "text.dat"}) {
        const testrun::Result r = testrun::run("mavlin", {"-#2sf128", normal_options, name}, dir.path());
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "t.siw"));
    EXPECT_FALSE(std::filesystem::exists(dir / "short.sis"));
    EXPECT_FALSE(std::filesystem::exists(dir / "text.kto"));
}

TEST(MavlinStandIn, MalformedBlockWordIsACommandLineError) {
    testrun::TempDir dir;
    for (const char* word : {"-p512", "-p512i0.05", "-p512i0.05v0.05w", "-p0i1v1", "-p512i0.05v0.05x"}) {
        const testrun::Result r = testrun::run("mavlin", {"-#2sf128", word, "x.dat"}, dir.path());
        EXPECT_EQ(r.status, 2) << word;
        EXPECT_NE(r.err.find(word), std::string::npos) << r.err;
    }
}

}  // namespace
