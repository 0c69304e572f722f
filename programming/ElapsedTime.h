#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

// A duration as hours, minutes and seconds in the locale's long time pattern,
// without time zone or AM/PM. Hours go on past 24 instead of wrapping.
QString FormatElapsed(std::int64_t milliseconds, const QLocale& locale = QLocale::system());
