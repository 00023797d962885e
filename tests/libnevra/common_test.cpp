#include "common.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>

using namespace Nevra;

TEST(Formatter, ChainsValuesOfAnyKindIntoOneTextGivenByOperatorStrAndToStr)
{
    const std::string text = Formatter() << "Unknown nv24 header version " << 3u << " at " << -7 << ' ' << 0.1 + 0.2
                                         << ' ' << 1234567.0 << ' ' << std::string("x") << "\n";
    EXPECT_EQ(text, "Unknown nv24 header version 3 at -7 0.3 1.23457e+06 x\n");
    Formatter f;
    f << "a" << 1;
    EXPECT_EQ(f.str(), "a1");
    EXPECT_EQ(f >> Formatter::to_str, "a1");
    const std::string converted = f;
    EXPECT_EQ(converted, "a1");
    f << 2;
    EXPECT_EQ(f.str(), "a12");
    EXPECT_EQ(Formatter().str(), "");
}

TEST(Formatter, MakesRuntimeErrorsAndCannotBeCopied)
{
    const std::runtime_error e(Formatter() << "Couldn't open " << "f.nv24" << "\n");
    EXPECT_STREQ(e.what(), "Couldn't open f.nv24\n");
    EXPECT_FALSE(std::is_copy_constructible_v<Formatter>);
    EXPECT_FALSE(std::is_copy_assignable_v<Formatter>);
}

TEST(DebugSwitch, StartsAtZeroAndGatesTraces)
{
    EXPECT_EQ(nevra_debug, 0);
    testing::internal::CaptureStderr();
    debug_trace("nevra.cpp", 42, "Trying nv24\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    nevra_debug = 1;
    testing::internal::CaptureStderr();
    debug_trace("nevra.cpp", 42, "Trying nv24\n");
    const std::string trace = testing::internal::GetCapturedStderr();
    nevra_debug = 0;
    EXPECT_EQ(trace, "Debug:nevra.cpp(42) Trying nv24\n");
}
