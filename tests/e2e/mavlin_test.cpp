// The mavlin stand-in on its own: results of the normal and the test job form,
// thresholds, normalisation, and its refusals.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "run.h"

namespace {

// 512 samples repeating pattern, shifted by offset, as a job file: normal form
// with the size line and offset/value pairs, test form with values only.
std::string job(const std::vector<double>& pattern, double offset, bool test_form) {
    std::string s = test_form ? "" : "512\n";
    for (std::size_t i = 0; i < 512; ++i)
        s += (test_form ? "" : std::to_string(i / 20.0) + " ") +
             std::to_string(pattern[i % pattern.size()] + offset) + "\n";
    return s;
}

// A result series: 512 lines repeating pattern, each the shortest exact form.
std::string series(const std::vector<double>& pattern) {
    std::string s;
    for (std::size_t i = 0; i < 512; ++i) {
        char text[32];
        s += std::string(text, std::to_chars(text, text + 32, pattern[i % pattern.size()]).ptr) +
             "\n";
    }
    return s;
}

struct Case {
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
    std::vector<testrun::Expect> expect;
};

TEST(MavlinStandIn, ResultsAndRefusals) {
    const std::string p = "-p512i0.05v0.05";
    const std::string wave = job({8, 2, -8, -2}, 0, false);
    char sdev[32];
    *std::to_chars(sdev, sdev + 31, std::sqrt(34.0)).ptr = '\0';
    std::vector<Case> cases = {
        {{}, {}, {{"status", '=', "0"}, {"out", '~', "stand-in"}, {"out", '~', "usage: mavlin"}}},
        // Mean 1000, magnitudes 8 and 2, population deviation sqrt(34).
        {{{"vma0000.dat", job({8, 2, -8, -2}, 1000, false)}},
         {"--swatch", "-#2sf128", "-p512i0.05v0.5", "vma0000.dat"},
         {{"status", '=', "0"},
          {"err", '=', ""},
          {"vma0000.siw", '=', series({8, 2, -8, -2})},
          {"vma0000.sis", '=', series({8, 0, -8, 0})},
          {"vma0000.kto", '=', "1000 " + std::string(sdev) + "\n"}}},
        // 0.25 of 8 is 2: the magnitude 2 is kept, the threshold is inclusive.
        {{{"vm0.dat", wave}},
         {"-#2sf128", "-p512i0.05v0.25w0.1", "-#", "vm0.dat"},
         {{"status", '=', "0"}, {"vm0.sis", '=', series({8, 2, -8, -2})}}},
        {{{"vm0.dat", wave}},
         {"-#2sf128", "-p512i0.05v1", "vm0.dat"},
         {{"status", '=', "0"}, {"vm0.sis", '=', series({8, 0, -8, 0})}}},
        {{{"c.dat", job({-200}, 0, true)}},
         {"-#2sf128oz1", p, "c.dat"},
         {{"status", '=', "0"},
          {"c.siw", '=', series({0})},
          {"c.sis", '=', series({0})},
          {"c.kto", '=', "-200 0\n"}}},
        {{{"vma0000.dat", job({1, -1}, 0, false)}, {"vma0002.dat", job({2, -2}, 0, false)}},
         {"--swatch", "-#2sf128", p, "vma0000.dat", "vmb????.dat", "vma0002.dat"},
         {{"status", '=', "0"},
          {"err", '=', "mavlin: skipping vmb????.dat: no such file\n"},
          {"vma0000.siw", '=', series({1, -1})},
          {"vma0002.siw", '=', series({2, -2})}}},
        // Job files of the wrong form leave no results.
        {{{"t.dat", job({1, -1}, 0, true)}},
         {"-#2sf128", p, "t.dat"},
         {{"status", '=', "1"}, {"err", '~', "t.dat"}, {"t.siw", '-', ""}}},
        {{{"short.dat", "512\n0 1\n0.05 2\n"}},
         {"-#2sf128", p, "short.dat"},
         {{"status", '=', "1"}, {"err", '~', "short.dat"}, {"short.sis", '-', ""}}},
        {{{"text.dat", "512\n0 one\n"}},
         {"-#2sf128", p, "text.dat"},
         {{"status", '=', "1"}, {"err", '~', "text.dat"}, {"text.kto", '-', ""}}},
    };
    // Test form, deviation 3: as it is, divided by and multiplied with the deviation.
    for (const auto& [suffix, weak] : {std::pair<std::string, std::vector<double>>{"o", {3, -3}},
                                       {"oz1", {1, -1}},
                                       {"z1o", {1, -1}},
                                       {"oz2", {9, -9}}})
        cases.push_back({{{"vmb0001.dat", job({13, 7}, 0, true)}},
                         {"--swatch", "-#2sf128" + suffix, p, "vmb0001.dat"},
                         {{"status", '=', "0"},
                          {"vmb0001.siw", '=', series(weak)},
                          {"vmb0001.sis", '=', series(weak)}}});
    for (const char* word :
         {"-p512", "-p512i0.05", "-p512i0.05v0.05w", "-p0i1v1", "-p512i0.05v0.05x"})
        cases.push_back(
            {{}, {"-#2sf128", word, "x.dat"}, {{"status", '=', "2"}, {"err", '~', word}}});
    for (const Case& c : cases) {
        testrun::Workspace w;
        for (const auto& [name, bytes] : c.files)
            w.put(name, bytes);
        EXPECT_EQ(w.check(testrun::run("mavlin", c.args, w.dir.path()), c.expect), "")
            << testing::PrintToString(c.args);
    }
}

}  // namespace
