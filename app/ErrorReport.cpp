#include "app/ErrorReport.h"

#include <QMessageBox>
#include <QWidget>

namespace {
TErrorBox& Box()
{
    static TErrorBox box;
    return box;
}
} // namespace

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

void SetErrorBox(TErrorBox box)
{
    Box() = std::move(box);
}

void ReportError(QWidget* owner, const QString& message)
{
    const QString caption = owner ? owner->windowTitle() : QString();
    const QString text = ErrorBoxText(message);
    if (Box()) {
        Box()(owner, caption, text);
        return;
    }
    QMessageBox::critical(owner, caption, text);
}
