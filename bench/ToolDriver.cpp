#include "bench/ToolDriver.h"

#include "app/ErrorReport.h"
#include "app/UpdaterUnit.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

namespace bench {
namespace {

const QString kRestarting = QStringLiteral("RESTARTING IN 3 SEC");

// Lets the window settle (show, layout, first paint) outside any measurement.
void Settle()
{
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

int LineCount(const QPlainTextEdit& log)
{
    return log.document()->blockCount();
}

} // namespace

// The status line is painted the moment its text changes; the first paint of
// "RESTARTING IN 3 SEC" marks the end of the programming phase.
class ToolDriver::StatusWatch : public QObject {
public:
    explicit StatusWatch(QLabel* label) : label_(label) { label_->installEventFilter(this); }

    void Arm(const Stopwatch* run, std::function<void()> atRestart)
    {
        run_ = run;
        atRestart_ = std::move(atRestart);
        programming_.reset();
    }
    std::optional<Span> Programming() const { return programming_; }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && run_ && !programming_ && label_->text() == kRestarting) {
            programming_ = run_->End();
            if (atRestart_) atRestart_();
        }
        return false;
    }

private:
    QLabel* label_;
    const Stopwatch* run_ = nullptr;
    std::function<void()> atRestart_;
    std::optional<Span> programming_;
};

bool ToolRun::Succeeded() const
{
    return error.isEmpty() && logLines == 0 && finalStatus.startsWith(QStringLiteral("FIRMWARE OK ["));
}

ToolDriver::ToolDriver(const std::string& device)
    : window_(std::make_unique<TMainUpdater>(TPortMap{device, "/dev/null"}))
{
    watch_ = std::make_unique<StatusWatch>(window_->BarLab);
    window_->show();
    Settle();
}

ToolDriver::~ToolDriver() = default;

ToolRun ToolDriver::Run(const RunChoice& choice, const std::function<void()>& atRestart)
{
    TMainUpdater& w = *window_;
    w.EnPOR->setChecked(false);
    w.verbox->setChecked(choice.verifyOnly);
    w.FastVer->setChecked(choice.fast);
    w.CheckBoxUP2->setChecked(choice.secondProcessor);
    w.FileNameEdit->setText(QString::fromStdString(choice.imagePath));
    const int linesBefore = LineCount(*w.Memo1);

    ToolRun run;
    // An error box would wait for a click; the text is kept instead.
    SetErrorBox([&run](QWidget*, const QString&, const QString& text) { run.error = text; });
    Settle();

    const Stopwatch stopwatch;
    watch_->Arm(&stopwatch, atRestart);
    w.DownloadBtn->click();
    run.whole = stopwatch.End();

    run.programming = watch_->Programming();
    watch_->Arm(nullptr, {});
    SetErrorBox({});
    run.finalStatus = w.StatusText();
    run.logLines = LineCount(*w.Memo1) - linesBefore;
    return run;
}

} // namespace bench
