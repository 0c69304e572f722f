// The Download run: set-up, programming phase, restart wait and the run's end.
// The verification phase between the restart wait and the end is in verification/.

#include "app/RadioGroup.h"
#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"
#include "firmware/RecordFile.h"
#include "programming/ElapsedTime.h"
#include "serial/Clock.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Loader protocol.
constexpr std::uint8_t kRecordRequest = 0xAA;
constexpr std::uint8_t kStartByte = 0x55;
constexpr std::uint8_t kAccepted = 0xCC;
constexpr int kAttemptLimit = 20;
constexpr std::uint16_t kRestartWaitSeconds = 3;

struct HandshakeStep {
    std::uint8_t send;
    std::uint8_t reply;
};
constexpr HandshakeStep kHandshake[] = {{0xCA, 0x35}, {0x05, 0x05}, {0xBE, 0xBE}};

} // namespace

void TMainUpdater::DownloadBtnClick(QObject*)
{
    TRun run;
    RunSetUp(run);
    if (!run.verifyOnly) ProgrammingPhase(run);
    VerificationPhase(run);
    RunEnd(run);
}

void TMainUpdater::SetControlsLocked(bool locked)
{
    for (QWidget* control : std::initializer_list<QWidget*>{DownloadBtn, BrowseButton, FileNameEdit, SerialGroup, EnPOR})
        control->setEnabled(!locked);
}

void TMainUpdater::RunSetUp(TRun& run)
{
    HaltBtn->setEnabled(true);
    SetControlsLocked(true);
    run.startMs = Clock().NowMs();
    Aborted = 0;
    run.path = QFile::encodeName(FileNameEdit->text()).toStdString();
    SetStatus(QStringLiteral("Waiting for board ack..."));
    BarBarb->SetPosition(BarBarb->Min());
    if (SerialGroup->ItemIndex() == 0) ComPort.SetPort("COM1");
    if (SerialGroup->ItemIndex() == 1) ComPort.SetPort("COM2");
    ComPort.SetBaudRate(br38400);
    run.verifyOnly = verbox->isChecked();
}

void TMainUpdater::ProgrammingPhase(TRun& run)
{
    ComPort.OpenPort();
    RecordFile file = OpenRecordFile(run.path);
    BarBarb->SetMax(static_cast<int>(RecordCount(file) * static_cast<long>(kRecordSize)));
    if (!EnPOR->isChecked()) BootHandshake();
    RecordLoop(file, run);
    CloseRecordFile(file);
    DrainInput();
    ComPort.ClosePort();

    SetStatus(QStringLiteral("RESTARTING IN 3 SEC"));
    HaltBtn->setEnabled(false);
    Delay(kRestartWaitSeconds, 0);
    run.restartWaited = true;
}

// All three bytes are always sent; after a wrong reply the later reads return 0 at once.
void TMainUpdater::BootHandshake()
{
    for (const HandshakeStep& step : kHandshake) {
        WrCom(step.send);
        if (RdCom() != step.reply) Aborted = 1;
    }
}

void TMainUpdater::RecordLoop(RecordFile& file, TRun& run)
{
    FirmwareRecord record;
    bool resend = false;
    bool done = false;
    while (!done && !Aborted) {
        if (!resend) record = ReadRecord(file);
        resend = false;

        const std::uint8_t request = EnPOR->isChecked() ? RdComNoTimeOut() : RdCom();
        if (request != kRecordRequest || Aborted) {
            Aborted = 1;
        } else {
            SetStatus(QStringLiteral("Writing data..."));
            WrCom(kStartByte);
            const std::uint8_t startEcho = RdCom();
            if (!Aborted && startEcho == kStartByte) {
                if (!TransferRecord(record, RecordIndex(file))) {
                    resend = true;
                    CountFailedAttempt(run);
                }
            } else if (!Aborted) {
                // The start byte echoed wrong but in time: a failed attempt like
                // any other. The record is not sent now; it goes again at the
                // board's next request. (A missing echo has set Aborted: nothing
                // was sent and nothing is counted.)
                resend = true;
                CountFailedAttempt(run);
            }
        }
        if (AtEnd(file) && !resend) done = true;
    }
}

void TMainUpdater::CountFailedAttempt(TRun& run)
{
    if (++run.ErrorCount == kAttemptLimit) Aborted = 1;
}

// Sends the record's 131 stored bytes with their echoes, the count of wrong
// echoes, and takes the two acknowledgement bytes. True when the board accepted it.
bool TMainUpdater::TransferRecord(const FirmwareRecord& record, long recordNumber)
{
    std::uint8_t mismatches = 0;
    const long barBase = (recordNumber - 1) * static_cast<long>(kRecordSize);
    for (std::size_t i = 1; i <= kRecordSize; ++i) {
        const std::uint8_t sent = record.StoredByte(i - 1);
        WrCom(sent);
        if (RdCom() != sent) ++mismatches;
        BarBarb->SetPosition(static_cast<int>(barBase + static_cast<long>(i)));
    }
    WrCom(mismatches);
    const std::uint8_t ack1 = RdCom();
    const std::uint8_t ack2 = RdCom();
    return ack1 == kAccepted && ack2 == kAccepted && mismatches == 0;
}

// Every RdCom takes one waiting byte, so this ends after as many calls as bytes
// were waiting, whatever Aborted holds.
void TMainUpdater::DrainInput()
{
    while (ComPort.PendingCount() > 0) RdCom();
}

void TMainUpdater::RunEnd(TRun& run)
{
    if (run.ErrorCount >= kAttemptLimit) Aborted = 1;
    if (run.mismatchLines > 0) Aborted = 1;

    if (Aborted) {
        if (!run.keepChannelStatus) {
            QString status = QStringLiteral("ERROR(S) FOUND");
            if (run.ErrorCount != 0) status += QStringLiteral(" [%1]").arg(run.ErrorCount);
            SetStatus(status);
        }
    } else {
        std::int64_t elapsed = Clock().NowMs() - run.startMs;
        if (run.restartWaited) elapsed -= kRestartWaitSeconds * 1000;
        SetStatus(QStringLiteral("FIRMWARE OK [") + FormatElapsed(elapsed) + QStringLiteral("] - ERRORS[") +
                  QString::number(run.ErrorCount) + u']');
    }
    BarBarb->SetPosition(BarBarb->Max());
    ComPort.ClosePort();
    SetControlsLocked(false);
    HaltBtn->setEnabled(true);
    DownloadBtn->setFocus();
}
