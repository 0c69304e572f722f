#include "app/CommandLine.h"
#include "app/ErrorReport.h"
#include "app/RadioGroup.h"
#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct ControlCase {
    const char* name;
    QRect geometry;
    QString caption;
    bool ticked;
};

QString Caption(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
    return {};
}

class WindowTest : public ::testing::Test {
protected:
    TMainUpdater w;
};

TEST_F(WindowTest, ControlsStartAtTheirPlaceWithCaptionAndState)
{
    const std::vector<std::pair<QWidget*, ControlCase>> cases{
        {w.SerialGroup, {"SerialGroup", {16, 11, 73, 54}, "", false}},
        {w.EnPOR, {"EnPOR", {96, 16, 97, 17}, "Power ON - FW", true}},
        {w.verbox, {"verbox", {96, 32, 97, 17}, "Verify ONLY", false}},
        {w.FastVer, {"FastVer", {96, 48, 97, 17}, "Fast VERIFY", false}},
        {w.BrowseButton, {"BrowseButton", {200, 16, 73, 49}, "Browse", false}},
        {w.DownloadBtn, {"DownloadBtn", {280, 16, 73, 49}, "Download", false}},
        {w.HaltBtn, {"HaltBtn", {360, 16, 73, 49}, "Halt", false}},
        {w.FileNameEdit, {"FileNameEdit", {16, 72, 417, 17}, "", false}},
        {w.BarBarb, {"BarBarb", {16, 96, 417, 33}, "", false}},
        {w.BarLab, {"BarLab", {32, 104, 337, 17}, "---", false}},
        {w.Bevel, {"Bevel", {16, 96, 417, 33}, "", false}},
        {w.CheckBoxUP2, {"CheckBoxUP2", {16, 136, 97, 17}, "uP2", true}},
        {w.Memo1, {"Memo1", {16, 160, 417, 329}, "", false}},
    };
    for (const auto& [control, expected] : cases) {
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(control->geometry(), expected.geometry);
        EXPECT_EQ(Caption(control), expected.caption);
        EXPECT_TRUE(control->isEnabled());
        if (auto* box = qobject_cast<QCheckBox*>(control)) {
            EXPECT_EQ(box->isChecked(), expected.ticked);
        }
    }
    EXPECT_EQ(w.windowTitle(), QString("FLASH Updater & Verifier V.1.6 - Kelvanto S.r.l."));
    EXPECT_EQ(w.SerialGroup->ItemIndex(), 0);
    EXPECT_EQ(w.SerialGroup->Item(0)->text(), "COM 1");
    EXPECT_EQ(w.SerialGroup->Item(1)->text(), "COM 2");
    EXPECT_EQ(w.BarBarb->Min(), 0);
    EXPECT_EQ(w.BarBarb->Max(), 100);
    EXPECT_EQ(w.BarBarb->Position(), 0);
    EXPECT_EQ(w.Memo1->document()->blockCount(), 1); // one empty line
    EXPECT_FALSE(w.ComPort.Connected());
    EXPECT_EQ(w.ComPort.Port(), "COM1");
    EXPECT_EQ(w.OpenDialog.Filter, "Kelvanto Updater Files|*.FRM");
    EXPECT_TRUE(w.OpenDialog.InitialDir.isEmpty());
    EXPECT_EQ(Aborted, 1);
    EXPECT_EQ(ChannelOk, 0);
}

TEST_F(WindowTest, FontsFollowTheDesign)
{
    EXPECT_EQ(w.font().family(), "MS Sans Serif");
    EXPECT_EQ(w.font().pixelSize(), 11);
    EXPECT_EQ(w.FileNameEdit->font().family(), "Courier New");
    EXPECT_EQ(w.FileNameEdit->font().pixelSize(), 11);
    EXPECT_EQ(w.BarLab->font().family(), "Courier New");
    EXPECT_EQ(w.BarLab->font().pixelSize(), 16);
    EXPECT_TRUE(w.BarLab->font().bold());
    EXPECT_EQ(w.BarLab->alignment(), Qt::AlignCenter);
}

TEST_F(WindowTest, TabOrderAndInitialFocus)
{
    w.show();
    QApplication::setActiveWindow(&w);
    EXPECT_EQ(QApplication::focusWidget(), w.BrowseButton);
    const std::vector<QWidget*> expected{w.BrowseButton, w.SerialGroup->Item(0), w.DownloadBtn, w.HaltBtn,
                                         w.EnPOR,        w.Memo1,                w.FileNameEdit, w.verbox,
                                         w.FastVer,      w.CheckBoxUP2};
    std::vector<QWidget*> chain;
    QWidget* at = w.BrowseButton;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        chain.push_back(at);
        // Skip what Tab never stops at: inner parts of controls, and the
        // group's second item, which shares the group's stop.
        do at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus) || at == w.SerialGroup->Item(1));
    }
    EXPECT_EQ(chain, expected);
}

// Bar, label and frame are drawn in this order, each over the one before.
TEST_F(WindowTest, StatusAreaIsStackedBarLabelFrame)
{
    const QObjectList& children = w.children();
    const auto at = [&](QWidget* widget) { return children.indexOf(widget); };
    EXPECT_LT(at(w.BarBarb), at(w.BarLab));
    EXPECT_LT(at(w.BarLab), at(w.Bevel));
}

TEST(ProgressBar, PositionIsClampedAndABadMaximumIgnored)
{
    TVrProgressBar bar;
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetMax(0); // not above the minimum
    EXPECT_EQ(bar.Max(), 100);
    bar.SetMax(1310);
    bar.SetPosition(267);
    EXPECT_EQ(bar.Max(), 1310);
    EXPECT_EQ(bar.Position(), 267);
    bar.SetMax(200); // the position follows into the new range
    EXPECT_EQ(bar.Position(), 200);
}

TEST(ProgressBar, FillFollowsThePosition)
{
    TVrProgressBar bar;
    bar.resize(417, 33);
    EXPECT_EQ(bar.FilledWidth(), 0);
    bar.SetPosition(50);
    EXPECT_EQ(bar.FilledWidth(), 415 / 2);
    bar.SetPosition(100);
    EXPECT_EQ(bar.FilledWidth(), 415);
}

// The bar is painted at once when its fill changes, without the event loop.
TEST(ProgressBar, PaintsAtOnceWhenTheFillChanges)
{
    QWidget window;
    window.resize(450, 60);
    auto* bar = new TVrProgressBar(&window);
    bar->setGeometry(16, 16, 417, 33);
    window.show();
    QCoreApplication::processEvents();
    int paints = 0;
    struct Counter : QObject {
        int* count;
        explicit Counter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) ++*count;
            return false;
        }
    } counter(&paints);
    bar->installEventFilter(&counter);
    bar->SetMax(100000);
    const int afterMax = paints;
    bar->SetPosition(10); // less than one pixel: nothing visible changes
    EXPECT_EQ(paints, afterMax);
    bar->SetPosition(50000);
    EXPECT_EQ(paints, afterMax + 1);
}

TEST(ErrorReport, AppendsAFullStopAfterCharactersAboveIt)
{
    EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
    EXPECT_EQ(ErrorBoxText("Unable to open com port (win error code: 2)"), "Unable to open com port (win error code: 2)");
    EXPECT_EQ(ErrorBoxText("I/O error 21"), "I/O error 21.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("dash-"), "dash-");
}

TEST_F(WindowTest, AnErrorInAHandlerReachesTheBoxCaptionedWithTheTitleAndTheWindowGoesOn)
{
    QString caption, text;
    SetErrorBox([&](QWidget*, const QString& c, const QString& t) {
        caption = c;
        text = t;
    });
    w.Guarded([] { throw std::runtime_error("File not found"); });
    SetErrorBox({});
    EXPECT_EQ(caption, w.windowTitle());
    EXPECT_EQ(text, "File not found.");
    EXPECT_FALSE(w.ProgramEnded());
}

TEST_F(WindowTest, HaltBeforeAnyRunEndsTheProgram)
{
    w.HaltBtn->click();
    EXPECT_TRUE(w.ProgramEnded());
}

TEST_F(WindowTest, HaltAfterASuccessfulRunEndsTheProgramAtTheSecondPress)
{
    Aborted = 0; // as a run ending in "FIRMWARE OK [" leaves it
    w.HaltBtn->click();
    EXPECT_FALSE(w.ProgramEnded());
    EXPECT_EQ(Aborted, 1);
    w.HaltBtn->click();
    EXPECT_TRUE(w.ProgramEnded());
}

TEST_F(WindowTest, ClosingTheWindowEndsTheProgram)
{
    w.show();
    w.close();
    EXPECT_TRUE(w.ProgramEnded());
}

// A wait notices the end of the program and unwinds to the handler's edge.
TEST_F(WindowTest, EndingInsideAWaitUnwindsTheHandlerQuietly)
{
    bool reported = false;
    SetErrorBox([&](QWidget*, const QString&, const QString&) { reported = true; });
    bool reachedAfterWait = false;
    QTimer::singleShot(0, &w, [this] { w.close(); });
    w.Guarded([&] {
        w.ProcessMessages();
        reachedAfterWait = true;
    });
    SetErrorBox({});
    EXPECT_TRUE(w.ProgramEnded());
    EXPECT_FALSE(reachedAfterWait);
    EXPECT_FALSE(reported);
}

TEST_F(WindowTest, StatusLineAndLog)
{
    w.SetStatus("Reading file");
    EXPECT_EQ(w.StatusText(), "Reading file");
    w.AppendLog("MP1ERR:255|18|1|128");
    w.AppendLog("MP2ERR:0|18|1|128");
    EXPECT_EQ(w.Memo1->toPlainText(), "\nMP1ERR:255|18|1|128\nMP2ERR:0|18|1|128");
}

TEST(CommandLine, MapsPortNamesToDevices)
{
    const TCommandLine none = ParseCommandLine({});
    EXPECT_EQ(none.Ports.DeviceFor("COM1"), "/dev/ttyS0");
    EXPECT_EQ(none.Ports.DeviceFor("COM2"), "/dev/ttyS1");
    const TCommandLine both = ParseCommandLine({"--com1", "/dev/ttyUSB0", "--com2", "/dev/pts/7"});
    EXPECT_TRUE(both.Error.empty());
    EXPECT_EQ(both.Ports.DeviceFor("COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(both.Ports.DeviceFor("COM2"), "/dev/pts/7");
    EXPECT_TRUE(ParseCommandLine({"--help"}).ShowHelp);
    EXPECT_FALSE(ParseCommandLine({"--com1"}).Error.empty());
    EXPECT_FALSE(ParseCommandLine({"--verbose"}).Error.empty());
}

} // namespace
