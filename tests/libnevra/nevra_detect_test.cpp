// Legacy detection: binary or ASCII reader from the first 256 bytes.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "legacy_writer.h"
#include "nevra.h"
#include "run.h"

namespace {

using legacywriter::make_record;

const std::string comment512 = "!S512Tidserier sampfrek: 18 gain: 1";

class LegacyDetect : public ::testing::Test {
protected:
    // The reader's type name, or the runtime error's text.
    std::string detect(const std::string& bytes)
    {
        legacywriter::write(file, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        testing::internal::CaptureStderr();
        try {
            std::unique_ptr<Nevra::NEVRA> reader(Nevra::detect(file.c_str(), &args));
            err = testing::internal::GetCapturedStderr();
            return reader->type();
        } catch (const std::runtime_error& e) {
            err = testing::internal::GetCapturedStderr();
            return e.what();
        }
    }

    testrun::TempDir dir;
    std::string file = (dir / "f.dat").string();
    std::string err;
};

std::string ascii(const std::string& comment, bool crlf = false)
{
    return legacywriter::ascii_image(comment, {make_record(128, 61, 0)}, false, crlf);
}

struct DetectCase {
    const char* what;
    std::string bytes;
    std::string expected;
};

TEST_F(LegacyDetect, Cases)
{
    // The binary reader needs a carriage return and the ASCII reader a line feed to end the line.
    const std::string cr = "\r";
    std::string digits_after_cr = comment512 + "\r" + "12 34 56" + std::string(300, ' ') + "\n";
    std::string zero_after_cr = legacywriter::binary_image(comment512, {make_record(512, 0, 7)});
    std::string late_eol = std::string(255, '!') + "\n" + std::string(10, '1');
    const DetectCase cases[] = {
        {"short file", ascii(comment512).substr(0, 255), "fread: EOF \n"},
        {"no line end", std::string(300, 'x'), "Found no end of first commentline\n"},
        {"line end only at byte 255", late_eol, "Found no end of first commentline\n"},
        {"ASCII", ascii(comment512), "text"},
        {"ASCII with CRLF", ascii(comment512, true), "text"},
        {"ASCII, second line a comment", comment512 + "\n!S512 again\n" + ascii("") + cr, "binary"},
        {"ASCII, second line text", comment512 + "\nabc\n" + ascii("") + cr, "binary"},
        {"binary, zero after the line end", zero_after_cr, "binary"},
        {"binary whose first bytes look like numbers", digits_after_cr, "text"},
        {"old type", "T old type\n" + ascii("") + cr, "binary"},
        {"invalid line", "!Xsomething\n" + ascii("") + cr, "binary"},
        {"!S512 line of no form", "!S512 text\n" + ascii(""), "text"},
        {"!s128 line of no form", "!s128 text\n" + ascii(""), "text"},
        {"!S256 line of no form", "!S256 text\n" + ascii("") + cr, "binary"},
    };
    for (const DetectCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(detect(c.bytes), c.expected);
    }
}

TEST_F(LegacyDetect, InvalidCommentMessages)
{
    EXPECT_EQ(detect("T old type\n" + ascii("") + "\r"), "binary");
    EXPECT_NE(err.find("validate_comment: Invalid comment line\n"), std::string::npos);
    EXPECT_NE(err.find("parse_comment: Invalid comment line\n"), std::string::npos);
    EXPECT_EQ(detect(ascii(legacywriter::form3_line('S', 256, "18"))), "text");
    EXPECT_EQ(err, "WARNING: nonstandard length: 256\nWARNING: nonstandard length: 256\n"
                   "Warning: year parsed from filename, " + file + ", is uncertain\n");
}

TEST_F(LegacyDetect, UnopenableFile)
{
    Nevra::NEVRA_arguments args;
    const std::string missing = (dir / "missing").string();
    try {
        delete Nevra::detect(missing.c_str(), &args);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Can't open " + missing + "\n");
    }
}

TEST_F(LegacyDetect, ArgumentsReachTheReader)
{
    legacywriter::write(file, ascii("!S128Tidserier sampfrek: 18 gain: 1"));
    testing::internal::CaptureStderr();
    std::unique_ptr<Nevra::NEVRA> loud(Nevra::detect(file.c_str(), false, true, false));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("File: " + file + " Type:text\n"), std::string::npos);
    // Old-type: the time words of the line are read as samples.
    ASSERT_EQ(loud->getdata(), 0);
    EXPECT_EQ(loud->current[0][0], 61.0);
    EXPECT_EQ(loud->current[0][1], 0.0);
    EXPECT_EQ(loud->current[0][2], 0.0);
    EXPECT_EQ(loud->current[0][3], 1.0);
}

TEST(LegacyHelpers, EolAndLength)
{
    EXPECT_TRUE(Nevra::is_eol('\n'));
    EXPECT_TRUE(Nevra::is_eol('\r'));
    EXPECT_FALSE(Nevra::is_eol('\0'));
    EXPECT_FALSE(Nevra::is_eol(' '));
    EXPECT_TRUE(Nevra::validlength(128));
    EXPECT_TRUE(Nevra::validlength(512));
    EXPECT_FALSE(Nevra::validlength(256));
    EXPECT_FALSE(Nevra::validlength(0));
}

}  // namespace
