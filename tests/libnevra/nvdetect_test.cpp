// Format detection of input files from their first 3072 bytes.

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

using Nevra::classify_input;

std::string numbers(int count)
{
    std::string line;
    for (int i = 0; i < count; ++i)
        line += std::to_string(i) + ".5 ";
    return line;
}

// A "!S512" line ending in a carriage return at position cr_at, with the
// word pair "ABCD" at the given distances after it.
std::string binary_head(size_t cr_at, std::initializer_list<size_t> repeats, size_t size = 3072)
{
    std::string head = "!S512" + std::string(cr_at - 5, 'x') + "\r";
    head.resize(size, 'y');
    for (size_t distance : repeats)
        head.replace(cr_at + 1 + distance, std::min<size_t>(4, size - (cr_at + 1 + distance)), "ABCD", 0,
                     std::min<size_t>(4, size - (cr_at + 1 + distance)));
    return head;
}

struct ClassifyCase {
    const char* what;
    std::string head;
    Nevra::input_format expected;
};

TEST(ClassifyInput, Cases)
{
    using enum Nevra::input_format;
    const std::string line = "!S512Tidserier sampfrek: 18";
    const ClassifyCase cases[] = {
        {"empty", "", INPUT_FORMAT_LEGACY},
        {"4 bytes", "nv24", INPUT_FORMAT_LEGACY},
        {"nv24", "nv24 rest is not checked", INPUT_FORMAT_BLOCK},
        {"!S256", "!S256\n" + numbers(5), INPUT_FORMAT_LEGACY},
        {"other text", "hello\n" + numbers(5), INPUT_FORMAT_LEGACY},
        {"no line end", "!S512" + std::string(4000, 'x'), INPUT_FORMAT_NONE},
        {"line end after 3071", "!S512" + std::string(3066, 'x') + "\n" + numbers(5), INPUT_FORMAT_NONE},
        {"CRLF, 4 numbers", line + "\r\n1.0 2.0 3.0 4.0\r\n", INPUT_FORMAT_TM4},
        {"CRLF, 3 numbers", line + "\r\n1.0 2.0 3.0\r\n", INPUT_FORMAT_LEGACY},
        {"CRLF, 127 numbers", line + "\r\n" + numbers(127) + "\r\n", INPUT_FORMAT_TM4},
        {"CRLF, 128 numbers", line + "\r\n" + numbers(128) + "\r\n", INPUT_FORMAT_LEGACY},
        {"counting stops at text", line + "\r\n1 2 3 4 x 5\r\n", INPUT_FORMAT_TM4},
        {"only the second line counts", line + "\n1 2 3\n4 5 6 7\n", INPUT_FORMAT_LEGACY},
        {"LF, 5 numbers", line + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {"!S128, LF, 5 numbers, no final line end", "!S128\n1 2 3 4 5", INPUT_FORMAT_TM4},
        {"lone CR before numbers", line + "\r1 2 3 4 5\n", INPUT_FORMAT_LEGACY},
        {"binary 512", binary_head(40, {0, 1028, 2056}), INPUT_FORMAT_LEGACY},
        {"late CR, LF and numbers", binary_head(1500, {}, 1501) + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {"CR near the end, LF and numbers", binary_head(3050, {}, 3051) + "\n1 2 3 4\n", INPUT_FORMAT_TM4},
    };
    for (const ClassifyCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(classify_input(c.head), c.expected);
    }
}

// The debug trace tells which of the binary tests matched.
std::string binary_trace(const std::string& head)
{
    Nevra::nevra_debug = 1;
    testing::internal::CaptureStderr();
    const Nevra::input_format format = classify_input(head);
    std::string trace = testing::internal::GetCapturedStderr();
    Nevra::nevra_debug = 0;
    EXPECT_EQ(format, Nevra::INPUT_FORMAT_LEGACY);
    const size_t message = trace.find(") ");
    return message == std::string::npos ? trace : trace.substr(message + 2);
}

TEST(ClassifyInput, BinaryBlockRepeatsInOrder)
{
    EXPECT_EQ(binary_trace(binary_head(40, {0, 1028, 2056})), "Trying binary !S512\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260, 520})), "Trying binary !S128\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260, 520, 1028, 2056})), "Trying binary !S512\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 1028})), "");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260})), "");
}

TEST(ClassifyInput, RepeatsPastTheBufferCountAsUnequal)
{
    // Line end at 1011: the third pair ends at byte 3071, the last of the
    // buffer (always zero), so the pair is "ABC" and a zero byte.
    std::string head = binary_head(1011, {});
    for (size_t at : {1012, 2040, 3068})
        head.replace(at, 4, std::string("ABC\0", 4));
    EXPECT_EQ(binary_trace(head), "Trying binary !S512\n");
    // One byte later the third pair would reach past the buffer.
    std::string later = binary_head(1012, {});
    later.replace(1013, 4, std::string("ABC\0", 4));
    later.replace(2041, 4, std::string("ABC\0", 4));
    later.replace(3069, 3, "ABC");
    later += std::string(10, '\0');  // a reader past the buffer would find the pairs equal
    EXPECT_EQ(binary_trace(later), "");
    EXPECT_EQ(classify_input(std::string_view(later).substr(0, 3072)), Nevra::INPUT_FORMAT_LEGACY);
}

TEST(Nvdetect, ReadersAndNullResults)
{
    testrun::TempDir dir;
    const std::string missing = (dir / "missing").string();
    EXPECT_EQ(Nevra::nvdetect(missing.c_str(), 0), nullptr);

    const std::string open_line = (dir / "open").string();
    legacywriter::write(open_line, "!S512" + std::string(5000, 'x'));
    EXPECT_EQ(Nevra::nvdetect(open_line.c_str(), 0), nullptr);

    const std::string block = (dir / "block").string();
    legacywriter::write(block, "nv24");
    EXPECT_THROW(delete Nevra::nvdetect(block.c_str(), 0), std::runtime_error);  // too short for legacy detection

    const std::string broken_block = (dir / "broken").string();
    legacywriter::write(broken_block, "nv24" + std::string(10, '\0'));
    EXPECT_THROW(delete Nevra::nvdetect(broken_block.c_str(), 0), std::runtime_error);

    const std::string legacy = (dir / "legacy.bin").string();
    std::vector<legacywriter::Record> records(4, legacywriter::make_record(512, 70, 0));
    legacywriter::write(legacy, legacywriter::binary_image(legacywriter::form3_line('S', 512, "18", "1", "kiruna",
                                                                                    "2016-01-15", "00:00:00"),
                                                           records));
    testing::internal::CaptureStderr();
    std::unique_ptr<Nevra::Nevra_Base> legacy_reader(Nevra::nvdetect(legacy.c_str(), 0));
    testing::internal::GetCapturedStderr();
    ASSERT_NE(legacy_reader, nullptr);
    EXPECT_EQ(legacy_reader->get_origin(), Nevra::ORIGIN_NV16);
}

}  // namespace
