#include "programming/ElapsedTime.h"

#include <gtest/gtest.h>

namespace {

struct ElapsedCase {
    QLocale::Language language;
    QLocale::Territory territory;
    std::int64_t ms;
    const char* expected;
};

// Hours, minutes and seconds in the locale's own pattern, never a time zone or
// AM/PM, and hours past 24 instead of a wrapped clock time.
TEST(FormatElapsed, UsesTheLocaleLongPatternAsADuration)
{
    const ElapsedCase cases[] = {
        {QLocale::C, QLocale::AnyTerritory, 600'000, "00:10:00"},
        {QLocale::German, QLocale::Germany, 3'723'999, "01:02:03"},
        {QLocale::English, QLocale::UnitedStates, 600'000, "0:10:00"},
        {QLocale::English, QLocale::UnitedStates, 13 * 3'600'000, "13:00:00"},
        {QLocale::German, QLocale::Germany, 25 * 3'600'000 + 61'000, "25:01:01"},
        {QLocale::C, QLocale::AnyTerritory, -20, "00:00:00"},
    };
    for (const ElapsedCase& c : cases) {
        const QLocale locale(c.language, c.territory);
        SCOPED_TRACE(locale.name().toStdString() + " " + std::to_string(c.ms));
        EXPECT_EQ(FormatElapsed(c.ms, locale).toStdString(), c.expected);
    }
}

} // namespace
