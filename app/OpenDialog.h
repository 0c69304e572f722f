#pragma once

#include <QString>
#include <functional>

class QWidget;

// The file-open dialog: a filter in "Description|*.EXT" form, an initial
// folder and the last file name accepted in it.
class TOpenDialog {
public:
    QString Filter;
    QString InitialDir;
    QString FileName;

    // Shows the dialog modally; true when a name was accepted (FileName then
    // holds it). Tests replace the dialog through SetRunner.
    bool Execute(QWidget* parent);

    // The filter in Qt's form; on Linux the pattern is also listed in lower case.
    QString QtFilter() const;

    using TRunner = std::function<bool(TOpenDialog&)>;
    // Replaces the modal dialog (tests); an empty runner restores it.
    static void SetRunner(TRunner runner);
};
