#include "app/OpenDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {
TOpenDialog::TRunner& Runner()
{
    static TOpenDialog::TRunner runner;
    return runner;
}
} // namespace

void TOpenDialog::SetRunner(TRunner runner)
{
    Runner() = std::move(runner);
}

// "Description|*.EXT" becomes "Description (*.EXT *.ext)": file names on Linux
// are case-sensitive and firmware files often arrive in lower case.
QString TOpenDialog::QtFilter() const
{
    const int bar = Filter.indexOf(u'|');
    if (bar < 0) return Filter;
    const QString description = Filter.left(bar);
    const QString pattern = Filter.mid(bar + 1);
    QString patterns = pattern;
    if (pattern.toLower() != pattern) patterns += u' ' + pattern.toLower();
    return description + QStringLiteral(" (") + patterns + u')';
}

bool TOpenDialog::Execute(QWidget* parent)
{
    if (Runner()) return Runner()(*this);

    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The name is not checked here: a missing file is reported when it is read.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QtFilter());
    dialog.setSizeGripEnabled(true);
    if (!FileName.isEmpty()) {
        dialog.setDirectory(QFileInfo(FileName).absolutePath());
        dialog.selectFile(FileName);
    } else if (!InitialDir.isEmpty()) {
        dialog.setDirectory(InitialDir);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}
