#include "FirmwareBytes.h"
#include "app/ErrorReport.h"
#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <fstream>

namespace {

struct ShownError {
    QString caption;
    QString text;
    bool operator==(const ShownError&) const = default;
};

void PrintTo(const ShownError& error, std::ostream* out)
{
    *out << '"' << error.caption.toStdString() << "\": \"" << error.text.toStdString() << '"';
}

// The Browse button of a real window; the dialog and the error box are played by the test.
class Browse : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetErrorBox([this](QWidget*, const QString& caption, const QString& text) {
            errors.push_back({caption, text});
        });
        w.show();
        w.activateWindow();
        QApplication::processEvents();
    }

    void TearDown() override
    {
        SetErrorBox({});
        TOpenDialog::SetRunner({});
    }

    void DialogAccepts(const std::string& path)
    {
        TOpenDialog::SetRunner([name = QString::fromStdString(path)](TOpenDialog& dialog) {
            dialog.FileName = name;
            return true;
        });
    }

    void DialogCancels()
    {
        TOpenDialog::SetRunner([](TOpenDialog&) { return false; });
    }

    void ClickBrowse() { w.BrowseButton->click(); }

    std::vector<ShownError> Shown(const char* text) const { return {{w.windowTitle(), QString::fromLatin1(text)}}; }

    const TempDir dir;
    TMainUpdater w;
    std::vector<ShownError> errors;
};

struct LoadCase {
    const char* name;
    std::size_t records;
    std::size_t tail;
    const char* fileName;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class BrowseLoads : public Browse, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(BrowseLoads, ShowsEveryRecordAndHandsTheFocusToDownload)
{
    const std::string path = dir.Write(GetParam().fileName, FirmwareBytes(GetParam().records, GetParam().tail));
    w.FileNameEdit->setText(QStringLiteral("typed before"));
    DialogAccepts(path);

    ClickBrowse();

    EXPECT_EQ(errors, std::vector<ShownError>{});
    EXPECT_EQ(w.FileNameEdit->text().toStdString(), path);
    EXPECT_EQ(w.BarBarb->Max(), static_cast<int>(GetParam().records));
    EXPECT_EQ(w.BarBarb->Position(), static_cast<int>(GetParam().records));
    EXPECT_EQ(w.StatusText(), QStringLiteral("File loaded succesfully"));
    EXPECT_EQ(QApplication::focusWidget(), w.DownloadBtn);
}

INSTANTIATE_TEST_SUITE_P(Files, BrowseLoads,
                         ::testing::Values(LoadCase{"OneRecord", 1, 0, "one.FRM"},
                                           LoadCase{"ThreeRecords", 3, 0, "three.FRM"},
                                           LoadCase{"ThreeRecordsAnd130Bytes", 3, 130, "tail.FRM"},
                                           LoadCase{"NameOutsideAscii", 2, 0, "\xC3\xA9t\xC3\xA9.frm"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Browse, RepaintsTheWindowAfterEveryRecordBeforeMovingTheBar)
{
    // Positions of the bar each time the whole window is painted.
    struct PaintWatch : QObject {
        TMainUpdater* window;
        std::vector<int> positions;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && static_cast<QPaintEvent*>(event)->rect() == window->rect()) {
                positions.push_back(window->BarBarb->Position());
            }
            return false;
        }
    } watch;
    watch.window = &w;
    DialogAccepts(dir.Write("three.FRM", FirmwareBytes(3)));

    w.installEventFilter(&watch);
    ClickBrowse();
    w.removeEventFilter(&watch);

    EXPECT_EQ(watch.positions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(w.BarBarb->Position(), 3);
}

TEST_F(Browse, CancelBeforeAnyNameEmptiesTheNameBoxAndStops)
{
    w.FileNameEdit->setText(QStringLiteral("typed.FRM"));
    DialogCancels();

    ClickBrowse();

    EXPECT_EQ(w.FileNameEdit->text(), QString());
    EXPECT_EQ(w.StatusText(), QStringLiteral("---"));
    EXPECT_EQ(w.BarBarb->Max(), 100);
    EXPECT_EQ(w.BarBarb->Position(), 0);
    EXPECT_EQ(errors, std::vector<ShownError>{});
    EXPECT_EQ(QApplication::focusWidget(), w.BrowseButton);
}

TEST_F(Browse, CancelAfterAnAcceptReadsTheAcceptedFileAgain)
{
    const std::string path = dir.Write("image.FRM", FirmwareBytes(2));
    DialogAccepts(path);
    ClickBrowse();
    ASSERT_EQ(w.BarBarb->Max(), 2);

    // The file grows and the operator types another name; the cancel brings the first back.
    dir.Write("image.FRM", FirmwareBytes(4));
    w.FileNameEdit->setText(QStringLiteral("other.FRM"));
    w.SetStatus(QStringLiteral("---"));
    DialogCancels();
    ClickBrowse();

    EXPECT_EQ(w.FileNameEdit->text().toStdString(), path);
    EXPECT_EQ(w.BarBarb->Max(), 4);
    EXPECT_EQ(w.BarBarb->Position(), 4);
    EXPECT_EQ(w.StatusText(), QStringLiteral("File loaded succesfully"));
    EXPECT_EQ(errors, std::vector<ShownError>{});
}

TEST_F(Browse, MissingFileIsReportedBeforeAnythingIsShown)
{
    const std::string path = dir.Path() + "/missing.FRM";
    w.SetStatus(QStringLiteral("earlier status"));
    DialogAccepts(path);

    ClickBrowse();

    EXPECT_EQ(errors, Shown("File not found."));
    EXPECT_EQ(w.StatusText(), QStringLiteral("earlier status"));
    EXPECT_EQ(w.FileNameEdit->text().toStdString(), path);
    EXPECT_EQ(QApplication::focusWidget(), w.BrowseButton);
}

TEST_F(Browse, FileWithoutAWholeRecordStopsAfterReadingFile)
{
    for (std::size_t size : {0, 1, 130}) {
        SCOPED_TRACE(size);
        errors.clear();
        w.SetStatus(QStringLiteral("---"));
        w.BarBarb->SetPosition(40);
        DialogAccepts(dir.Write("short.FRM", FirmwareBytes(0, size)));

        ClickBrowse();

        EXPECT_EQ(errors, Shown("Read beyond end of file."));
        EXPECT_EQ(w.StatusText(), QStringLiteral("Reading file"));
        // A count of 0 is no maximum for the bar, and its position is never reset.
        EXPECT_EQ(w.BarBarb->Max(), 100);
        EXPECT_EQ(w.BarBarb->Position(), 40);
        EXPECT_EQ(QApplication::focusWidget(), w.BrowseButton);
    }
}

TEST_F(Browse, WindowStaysUsableAfterAFailedLoad)
{
    DialogAccepts(dir.Path() + "/missing.FRM");
    ClickBrowse();
    ASSERT_EQ(errors.size(), 1u);

    DialogAccepts(dir.Write("image.FRM", FirmwareBytes(5)));
    ClickBrowse();

    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(w.BarBarb->Position(), 5);
    EXPECT_EQ(w.StatusText(), QStringLiteral("File loaded succesfully"));
}

} // namespace
