#pragma once

#include <QString>
#include <functional>

class QWidget;

// The application's report of an error that ended a handler: a modal box
// captioned with the window title. Tests replace the box through SetErrorBox.

// The text as shown: "." is appended when the last character's code is above ".".
QString ErrorBoxText(const QString& message);

void ReportError(QWidget* owner, const QString& message);

using TErrorBox = std::function<void(QWidget* owner, const QString& caption, const QString& text)>;
// Replaces the modal box (tests); an empty function restores it.
void SetErrorBox(TErrorBox box);
