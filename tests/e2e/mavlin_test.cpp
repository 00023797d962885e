// The mavlin stand-in on its own: results of the normal and the test job form,
// thresholds, normalisation, and its refusals.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "run.h"

namespace {

using testrun::Case;

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

const std::string p = "-p512i0.05v0.05";

// Test form, deviation 3, with the method word's suffix: both results are weak.
Case normalised(const std::string& suffix, const std::vector<double>& weak) {
    return {{{"vmb0001.dat", job({13, 7}, 0, true)}},
            {"--swatch", "-#2sf128" + suffix, p, "vmb0001.dat"},
            {{"status", '=', "0"},
             {"vmb0001.siw", '=', series(weak)},
             {"vmb0001.sis", '=', series(weak)}}};
}

// A job file of the wrong form: status 1, the file named and no results.
Case refused(const std::string& name, const std::string& bytes) {
    return {{{name, bytes}},
            {"-#2sf128", p, name},
            {{"status", '=', "1"}, {"err", '~', name}, {"ls", '=', name + "\n"}}};
}

Case malformed(const std::string& word) {
    return {{}, {"-#2sf128", word, "x.dat"}, {{"status", '=', "2"}, {"err", '~', word}}};
}

TEST(MavlinStandIn, ResultsAndRefusals) {
    const std::string wave = job({8, 2, -8, -2}, 0, false);
    char sdev[32];
    *std::to_chars(sdev, sdev + 31, std::sqrt(34.0)).ptr = '\0';
    // clang-format off
    const Case cases[] = {
        {{}, {}, {{"status", '=', "0"}, {"out", '~', "stand-in"}, {"out", '~', "usage: mavlin"}}},
        // Mean 1000, magnitudes 8 and 2, population deviation sqrt(34).
        {{{"vma0000.dat", job({8, 2, -8, -2}, 1000, false)}},
         {"--swatch", "-#2sf128", "-p512i0.05v0.5", "vma0000.dat"},
         {{"status", '=', "0"}, {"err", '=', ""}, {"vma0000.siw", '=', series({8, 2, -8, -2})},
          {"vma0000.sis", '=', series({8, 0, -8, 0})},
          {"vma0000.kto", '=', "1000 " + std::string(sdev) + "\n"}}},
        // 0.25 of 8 is 2: the magnitude 2 is kept, the threshold is inclusive.
        {{{"vm0.dat", wave}}, {"-#2sf128", "-p512i0.05v0.25w0.1", "-#", "vm0.dat"},
         {{"status", '=', "0"}, {"vm0.sis", '=', series({8, 2, -8, -2})}}},
        {{{"vm0.dat", wave}}, {"-#2sf128", "-p512i0.05v1", "vm0.dat"},
         {{"status", '=', "0"}, {"vm0.sis", '=', series({8, 0, -8, 0})}}},
        {{{"c.dat", job({-200}, 0, true)}}, {"-#2sf128oz1", p, "c.dat"},
         {{"status", '=', "0"}, {"c.siw", '=', series({0})}, {"c.sis", '=', series({0})},
          {"c.kto", '=', "-200 0\n"}}},
        {{{"vma0000.dat", job({1, -1}, 0, false)}, {"vma0002.dat", job({2, -2}, 0, false)}},
         {"--swatch", "-#2sf128", p, "vma0000.dat", "vmb????.dat", "vma0002.dat"},
         {{"status", '=', "0"}, {"err", '=', "mavlin: skipping vmb????.dat: no such file\n"},
          {"vma0000.siw", '=', series({1, -1})}, {"vma0002.siw", '=', series({2, -2})}}},
        // As it is, divided by and multiplied with the deviation.
        normalised("o", {3, -3}), normalised("oz1", {1, -1}), normalised("z1o", {1, -1}),
        normalised("oz2", {9, -9}),
        refused("t.dat", job({1, -1}, 0, true)), refused("short.dat", "512\n0 1\n0.05 2\n"),
        refused("text.dat", "512\n0 one\n"),
        malformed("-p512"), malformed("-p512i0.05"), malformed("-p512i0.05v0.05w"),
        malformed("-p0i1v1"), malformed("-p512i0.05v0.05x"),
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(testrun::run_case(c, "mavlin"), "");
}

}  // namespace
