// Legacy detection (binary or ASCII reader from the first 256 bytes) and
// format detection of every input format (from the first 3072 bytes).

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "common.h"
#include "legacy_writer.h"
#include "nevra.h"
#include "nevra_base.h"
#include "run.h"

namespace {

using legacywriter::make_record;

const std::string s512 = "!S512Tidserier sampfrek: 18 gain: 1";

std::string ascii(const std::string& comment) { return legacywriter::ascii_image(comment, {make_record(128, 61, 0)}); }

class Detect : public ::testing::Test {
protected:
    // The chosen reader's type name, or the runtime error's text.
    std::string detect(const std::string& bytes)
    {
        legacywriter::write(file, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        testing::internal::CaptureStderr();
        std::string result;
        try {
            std::unique_ptr<Nevra::NEVRA> reader(Nevra::detect(file.c_str(), &args));
            result = reader->type();
        } catch (const std::runtime_error& e) {
            result = e.what();
        }
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    testrun::TempDir dir;
    std::string file = (dir / "f.dat").string();
    std::string err;
};

TEST_F(Detect, LegacyBinaryOrAscii)
{
    const std::string cr = "\r";  // lets the binary reader find the end of its comment line
    const std::pair<std::string, std::string> cases[] = {
        {ascii(s512).substr(0, 255), "fread: EOF \n"},
        {std::string(300, 'x'), "Found no end of first commentline\n"},
        {std::string(255, '!') + "\n" + std::string(10, '1'), "Found no end of first commentline\n"},
        {ascii(s512), "text"},
        {legacywriter::ascii_image(s512, {make_record(128, 61, 0)}, false, true), "text"},
        {s512 + "\n!S512 again\n" + ascii("") + cr, "binary"},
        {s512 + "\nabc\n" + ascii("") + cr, "binary"},
        {legacywriter::binary_image(s512, {make_record(512, 0, 7)}), "binary"},
        {s512 + "\r12 34 56" + std::string(300, ' ') + "\n", "text"},  // binary words that read as numbers
        {"T old type\n" + ascii("") + cr, "binary"},
        {"!Xsomething\n" + ascii("") + cr, "binary"},
        {"!S512 text\n" + ascii(""), "text"},  // valid through the length scan
        {"!s128 text\n" + ascii(""), "text"},
        {"!S256 text\n" + ascii("") + cr, "binary"},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes.substr(0, 40));
        EXPECT_EQ(detect(bytes), expected);
    }
    EXPECT_EQ(detect("T old type\n" + ascii("") + cr), "binary");
    EXPECT_NE(err.find("validate_comment: Invalid comment line\n"), std::string::npos);
    EXPECT_EQ(detect(ascii(legacywriter::form3_line('S', 256, "18"))), "text");
    EXPECT_EQ(err, "WARNING: nonstandard length: 256\nWARNING: nonstandard length: 256\n"
                   "Warning: year parsed from filename, " + file + ", is uncertain\n");
    EXPECT_EQ(detect(""), "fread: EOF \n");
    file = (dir / "missing").string();
    try {
        delete Nevra::detect(file.c_str(), false, false, false);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Can't open " + file + "\n");
    }
}

TEST_F(Detect, ArgumentsReachTheReader)
{
    legacywriter::write(file, ascii("!S128Tidserier sampfrek: 18"));
    testing::internal::CaptureStderr();
    std::unique_ptr<Nevra::NEVRA> loud(Nevra::detect(file.c_str(), false, true, false));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("File: " + file + " Type:text\n"), std::string::npos);
    ASSERT_EQ(loud->getdata(), 0);  // old-type: the time values are read as samples
    EXPECT_EQ(loud->current[0][0], 61.0);
    EXPECT_EQ(loud->current[0][3], 1.0);
    EXPECT_TRUE(Nevra::is_eol('\r') && Nevra::is_eol('\n') && !Nevra::is_eol('\0'));
    EXPECT_TRUE(Nevra::validlength(128) && Nevra::validlength(512) && !Nevra::validlength(256));
}

std::string numbers(int count)
{
    std::string line;
    for (int i = 0; i < count; ++i)
        line += std::to_string(i) + ".5 ";
    return line;
}

// "!S512", a carriage return at position cr_at, then filler with "ABCD" at
// the given distances after the carriage return.
std::string binary_head(size_t cr_at, std::initializer_list<size_t> repeats, size_t size = 3072)
{
    std::string head = "!S512" + std::string(cr_at - 5, 'x') + "\r";
    head.resize(size, 'y');
    for (size_t distance : repeats)
        head.replace(cr_at + 1 + distance, 4, "ABCD");
    return head;
}

TEST(ClassifyInput, Cases)
{
    using enum Nevra::input_format;
    const std::string line = "!S512Tidserier sampfrek: 18";
    const std::pair<std::string, Nevra::input_format> cases[] = {
        {"", INPUT_FORMAT_LEGACY},
        {"nv24", INPUT_FORMAT_LEGACY},
        {"nv24 rest is not checked", INPUT_FORMAT_BLOCK},
        {"!S256\n" + numbers(5), INPUT_FORMAT_LEGACY},
        {"!S512" + std::string(4000, 'x'), INPUT_FORMAT_NONE},
        {"!S512" + std::string(3066, 'x') + "\n" + numbers(5), INPUT_FORMAT_NONE},  // line end at 3071
        {line + "\r\n1.0 2.0 3.0 4.0\r\n", INPUT_FORMAT_TM4},
        {line + "\r\n1.0 2.0 3.0\r\n", INPUT_FORMAT_LEGACY},
        {line + "\r\n" + numbers(127) + "\r\n", INPUT_FORMAT_TM4},
        {line + "\r\n" + numbers(128) + "\r\n", INPUT_FORMAT_LEGACY},
        {line + "\r\n1 2 3 4 x 5\r\n", INPUT_FORMAT_TM4},
        {line + "\n1 2 3\n4 5 6 7\n", INPUT_FORMAT_LEGACY},
        {line + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {"!S128\n1 2 3 4 5", INPUT_FORMAT_TM4},
        {line + "\r1 2 3 4 5\n", INPUT_FORMAT_LEGACY},  // lone carriage return
        {binary_head(1500, {}, 1501) + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {binary_head(3050, {}, 3051) + "\n1 2 3 4\n", INPUT_FORMAT_TM4},
    };
    for (const auto& [head, expected] : cases) {
        SCOPED_TRACE(head.substr(0, 40));
        EXPECT_EQ(Nevra::classify_input(head), expected);
    }
}

// The debug trace tells which binary test matched.
std::string binary_trace(const std::string& head)
{
    Nevra::nevra_debug = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Nevra::classify_input(head), Nevra::INPUT_FORMAT_LEGACY);
    const std::string trace = testing::internal::GetCapturedStderr();
    Nevra::nevra_debug = 0;
    const size_t message = trace.find(") ");
    return message == std::string::npos ? trace : trace.substr(message + 2);
}

TEST(ClassifyInput, BinaryBlockRepeats)
{
    EXPECT_EQ(binary_trace(binary_head(40, {0, 1028, 2056})), "Trying binary !S512\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260, 520})), "Trying binary !S128\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260, 520, 1028, 2056})), "Trying binary !S512\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 1028})), "");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260})), "");
    // Line end at 1011: the third pair ends with the buffer's last byte, which is always zero.
    std::string head = binary_head(1011, {});
    for (size_t at : {1012, 2040, 3068})
        head.replace(at, 4, std::string("ABC\0", 4));
    EXPECT_EQ(binary_trace(head), "Trying binary !S512\n");
    // One byte later the third pair would reach past the buffer: not equal.
    std::string later = binary_head(1012, {});
    for (size_t at : {1013, 2041})
        later.replace(at, 4, std::string("ABC\0", 4));
    later.replace(3069, 3, "ABC");
    EXPECT_EQ(binary_trace(later + std::string(10, '\0')), "");
}

TEST(Nvdetect, ReadersAndNullResults)
{
    testrun::TempDir dir;
    const auto detect = [&](const std::string& bytes) {
        legacywriter::write(dir / "f", bytes);
        testing::internal::CaptureStderr();
        try {
            std::unique_ptr<Nevra::Nevra_Base> reader(Nevra::nvdetect((dir / "f").c_str(), 0));
            testing::internal::GetCapturedStderr();
            return reader;
        } catch (...) {
            testing::internal::GetCapturedStderr();
            throw;
        }
    };
    EXPECT_EQ(Nevra::nvdetect((dir / "missing").c_str(), 0), nullptr);
    EXPECT_EQ(detect("!S512" + std::string(5000, 'x')), nullptr);
    EXPECT_THROW(detect("nv24"), std::runtime_error);  // the legacy reader: too short
    EXPECT_THROW(detect("nv24" + std::string(10, '\0')), std::runtime_error);  // the block reader
    const auto legacy = detect(legacywriter::binary_image(
        legacywriter::form3_line('S', 512, "18", "1", "kiruna", "2016-01-15", "00:00:00"),
        std::vector<legacywriter::Record>(4, make_record(512, 70, 0))));
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->get_origin(), Nevra::ORIGIN_NV16);
}

}  // namespace
