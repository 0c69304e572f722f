#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"
#include "firmware/RecordFile.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <climits>

// Reads every whole record once, showing the progress; keeps nothing.
// A FileIoError of any step ends the pass (and its caller) where it happens.
void TMainUpdater::ReadThrough(const std::string& path)
{
    RecordFile file = OpenRecordFile(path);
    // Only a file that could be opened is announced as being read.
    SetStatus(QStringLiteral("Reading file"));
    // The position is left where it was: the first record read moves it.
    BarBarb->SetMax(static_cast<int>(std::min<long>(RecordCount(file), INT_MAX)));
    // The end is tested after the read, so a file without a whole record fails on its first read.
    do {
        ReadRecord(file);
        repaint();
        BarBarb->SetPosition(static_cast<int>(std::min<long>(RecordIndex(file), INT_MAX)));
    } while (!AtEnd(file));
    CloseRecordFile(file);
}

void TMainUpdater::BrowseButtonClick(QObject* /*Sender*/)
{
    // Accepted or cancelled, the dialog's current name is taken: after a cancel
    // that is the name accepted last, or nothing.
    OpenDialog.Execute(this);
    FileNameEdit->setText(OpenDialog.FileName);
    const QString path = FileNameEdit->text();
    if (path.isEmpty()) return;
    ReadThrough(QFile::encodeName(path).toStdString());
    SetStatus(QStringLiteral("File loaded succesfully"));
    DownloadBtn->setFocus();
}
