#include "app/UpdaterUnit.h"

#include "app/ErrorReport.h"
#include "app/RadioGroup.h"
#include "app/VrProgressBar.h"
#include "serial/Clock.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

std::uint8_t Aborted = 1;
std::uint8_t ChannelOk = 0;
TMainUpdater* MainUpdater = nullptr;

namespace {

// The design's fonts, followed by the closest ones in width where they are
// missing, so that captions fit their controls.
const QStringList kSansFamilies{"MS Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans"};
const QStringList kMonoFamilies{"Courier New", "Liberation Mono", "Nimbus Mono PS", "DejaVu Sans Mono"};

QFont PixelFont(const QStringList& families, int pixels, bool bold = false)
{
    QFont font(families.constFirst());
    font.setFamilies(families);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

template <class Control>
Control* Place(Control* control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, height);
    return control;
}

QCheckBox* CheckBox(QWidget* parent, const char* caption, bool ticked, int left, int top)
{
    auto* box = Place(new QCheckBox(QString::fromLatin1(caption), parent), left, top, 97, 17);
    box->setChecked(ticked);
    return box;
}

QPushButton* Button(QWidget* parent, const char* caption, int left)
{
    return Place(new QPushButton(QString::fromLatin1(caption), parent), left, 16, 73, 49);
}

} // namespace

TMainUpdater::TMainUpdater(TPortMap ports, TClock* clock, QWidget* parent)
    : QWidget(parent),
      ComPort(clock ? *clock : SteadyClock(), std::move(ports)),
      clock_(clock ? clock : &SteadyClock())
{
    BuildDesign();
    FormCreate(this);
}

TMainUpdater::~TMainUpdater()
{
    if (MainUpdater == this) MainUpdater = nullptr;
}

// The window's design: every control at its place, with its caption and
// initial state. Positions are relative to the client area.
void TMainUpdater::BuildDesign()
{
    move(340, 187);
    resize(442, 501); // 458 x 540 with a usual window frame
    setFont(PixelFont(kSansFamilies, 11));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    SerialGroup = Place(new TRadioGroup({QStringLiteral("COM 1"), QStringLiteral("COM 2")}, this), 16, 11, 73, 54);
    SerialGroup->SetItemIndex(0);
    EnPOR = CheckBox(this, "Power ON - FW", true, 96, 16);
    verbox = CheckBox(this, "Verify ONLY", false, 96, 32);
    FastVer = CheckBox(this, "Fast VERIFY", false, 96, 48);
    BrowseButton = Button(this, "Browse", 200);
    DownloadBtn = Button(this, "Download", 280);
    HaltBtn = Button(this, "Halt", 360);

    FileNameEdit = Place(new QLineEdit(this), 16, 72, 417, 17);
    FileNameEdit->setFont(PixelFont(kMonoFamilies, 11));
    FileNameEdit->setFixedHeight(17);
    FileNameEdit->setTextMargins(0, 0, 0, 0);

    // The status area: bar, then the label, then the frame, each drawn over the one before.
    BarBarb = Place(new TVrProgressBar(this), 16, 96, 417, 33);
    BarLab = Place(new QLabel(QStringLiteral("---"), this), 32, 104, 337, 17);
    BarLab->setAlignment(Qt::AlignCenter);
    BarLab->setFont(PixelFont(kMonoFamilies, 16, true));
    QPalette white = BarLab->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    BarLab->setPalette(white);
    // Over a button-face window Qt would pick the button text colour instead.
    BarLab->setForegroundRole(QPalette::WindowText);
    BarLab->setAutoFillBackground(false);
    BarLab->setAttribute(Qt::WA_TransparentForMouseEvents);
    Bevel = Place(new QFrame(this), 16, 96, 417, 33);
    Bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel->setAttribute(Qt::WA_TransparentForMouseEvents);

    CheckBoxUP2 = CheckBox(this, "uP2", true, 16, 136);
    Memo1 = Place(new QPlainTextEdit(this), 16, 160, 417, 329);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    // Tab order: Browse, port, Download, Halt, Power ON, log, file name, Verify ONLY, Fast VERIFY, uP2.
    const QList<QWidget*> tabOrder{BrowseButton, SerialGroup->Item(0), SerialGroup->Item(1), DownloadBtn,
                                   HaltBtn,      EnPOR,                Memo1,                FileNameEdit,
                                   verbox,       FastVer,              CheckBoxUP2};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i) setTabOrder(tabOrder[i], tabOrder[i + 1]);
    BarBarb->setFocusPolicy(Qt::NoFocus);
    BrowseButton->setFocus();

    connect(BrowseButton, &QPushButton::clicked, this, [this] { Guarded([this] { BrowseButtonClick(BrowseButton); }); });
    connect(DownloadBtn, &QPushButton::clicked, this, [this] { Guarded([this] { DownloadBtnClick(DownloadBtn); }); });
    connect(HaltBtn, &QPushButton::clicked, this, [this] { Guarded([this] { HaltBtnClick(HaltBtn); }); });
}

void TMainUpdater::FormCreate(QObject*)
{
    OpenDialog.Filter = QStringLiteral("Kelvanto Updater Files|*.FRM");
    OpenDialog.InitialDir.clear();
    Aborted = 1;
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    ChannelOk = 0;
}

void TMainUpdater::FormClose(QObject*)
{
    EndProgram();
}

void TMainUpdater::HaltBtnClick(QObject*)
{
    if (Aborted) {
        EndProgram();
        return;
    }
    Aborted = 1;
}

void TMainUpdater::closeEvent(QCloseEvent* event)
{
    Guarded([this] { FormClose(this); });
    event->accept();
}

void TMainUpdater::EndProgram()
{
    ending_ = true;
    QCoreApplication::exit(0);
}

void TMainUpdater::ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (ending_) throw TProgramEnding{};
}

void TMainUpdater::SetStatus(const QString& text)
{
    if (BarLab->text() == text) return;
    BarLab->setText(text);
    if (BarLab->isVisible()) BarLab->repaint();
}

QString TMainUpdater::StatusText() const
{
    return BarLab->text();
}

// A new line below whatever the log holds, starting under its initial empty line.
void TMainUpdater::AppendLog(const QString& line)
{
    QTextCursor end(Memo1->document());
    end.movePosition(QTextCursor::End);
    end.insertText(u'\n' + line);
}

void TMainUpdater::ReportHandlerError(const QString& message)
{
    ReportError(this, message);
}
