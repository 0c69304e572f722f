// The verification phase of a Download run: the board's memory is read back at
// every address the image names and compared with the image.

#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"
#include "firmware/RecordFile.h"

#include <QCheckBox>
#include <array>
#include <span>

namespace {

constexpr std::uint8_t kChannelAnswer = 0x35; // "5"
constexpr std::uint8_t kReadSecondProcessor = 3;

constexpr std::array<std::uint8_t, 128> FullOffsets()
{
    std::array<std::uint8_t, 128> offsets{};
    for (std::size_t j = 0; j < offsets.size(); ++j) offsets[j] = static_cast<std::uint8_t>(j);
    return offsets;
}
constexpr std::array<std::uint8_t, 128> kFullOffsets = FullOffsets();
// The last byte of each block of 16.
constexpr std::array<std::uint8_t, 8> kFastOffsets{15, 31, 47, 63, 79, 95, 111, 127};

// 0xFF00..0xFFCF is read but never compared.
bool Exempt(std::uint8_t high, std::uint8_t low)
{
    return high == 0xFF && low < 0xD0;
}

QString MismatchLine(const char* tag, std::uint8_t read, std::uint8_t expected, std::uint8_t high, std::uint8_t low)
{
    return QStringLiteral("%1%2|%3|%4|%5").arg(QLatin1String(tag)).arg(read).arg(expected).arg(high).arg(low);
}

} // namespace

void TMainUpdater::VerificationPhase(TRun& run)
{
    ReadThrough(run.path);

    RecordFile file = OpenRecordFile(run.path);
    std::uint8_t reply = 0;
    ComPort.OpenPort();
    DrainInput();
    OpenCOMChannel(reply);
    SetStatus(QStringLiteral("Start verification..."));
    BarBarb->SetMax(static_cast<int>(RecordCount(file) * static_cast<long>(kRecordSize)));
    if (reply != kChannelAnswer) {
        SetStatus(QStringLiteral("EQU not restarted!"));
        CloseRecordFile(file);
        ChannelNotOpened(run);
        return;
    }

    TVerifyValues values;
    do {
        repaint();
        ProcessMessages();
        ChannelOk = 1;
        const FirmwareRecord record = ReadRecord(file);
        VerifyRecord(record, RecordIndex(file), values, run);
    } while (!AtEnd(file));
    CloseRecordFile(file);
}

// Nothing was verified, so the run has failed. When nothing else had failed,
// "EQU not restarted!" stays on the status line to tell the operator why.
void TMainUpdater::ChannelNotOpened(TRun& run)
{
    if (!Aborted) run.keepChannelStatus = true;
    Aborted = 1;
}

void TMainUpdater::VerifyRecord(const FirmwareRecord& record, long recordNumber, TVerifyValues& values, TRun& run)
{
    const std::uint8_t high = Plain(record.AddrHi, record.Key);
    const std::uint8_t lowStart = Plain(record.AddrLo, record.Key);
    const bool fast = FastVer->isChecked();
    const std::span<const std::uint8_t> offsets = fast ? std::span<const std::uint8_t>(kFastOffsets)
                                                       : std::span<const std::uint8_t>(kFullOffsets);
    const long barBase = (recordNumber - 1) * static_cast<long>(kRecordSize);

    for (const std::uint8_t j : offsets) {
        const std::uint8_t AddressHigh = high;
        const std::uint8_t AddressLow = static_cast<std::uint8_t>(lowStart + j); // wraps within the page
        const std::uint8_t expected = Plain(record.Data[j], record.Key);

        ReadData(AddressHigh, AddressLow, values.main);
        // No events are handled inside an address, so one look at the box serves both uses.
        const bool secondProcessor = CheckBoxUP2->isChecked();
        if (secondProcessor) SPIIntCMD(kReadSecondProcessor, AddressHigh, AddressLow, values.second);

        if (!Exempt(AddressHigh, AddressLow)) {
            if (values.main != expected) {
                AppendLog(MismatchLine("MP1ERR:", values.main, expected, AddressHigh, AddressLow));
                ++run.mismatchLines;
            }
            if (secondProcessor && values.second != expected) {
                AppendLog(MismatchLine("MP2ERR:", values.second, expected, AddressHigh, AddressLow));
                ++run.mismatchLines;
            }
        }
        BarBarb->SetPosition(static_cast<int>(barBase + j + 1));
        SetStatus(QStringLiteral("Checking %1/%2").arg(BarBarb->Position()).arg(BarBarb->Max()));
    }
}
