#pragma once

// The main window of the tool and every operation of the tool as its methods.
// Each subsystem folder defines its own part of TMainUpdater:
//   app/           design, FormCreate, FormClose, HaltBtnClick, event processing
//   serial/        WrCom, RdCom, RdComNoTimeOut, Delay
//   firmware/      ReadThrough, BrowseButtonClick, TranxHex, ToHex, HeavyDecoded
//   programming/   DownloadBtnClick: set-up, programming phase, restart wait, end
//   verification/  board commands, SPI pass-through, verification phase

#include "app/OpenDialog.h"
#include "firmware/FirmwareRecord.h"
#include "serial/ComPort.h"

#include <QWidget>
#include <cstdint>
#include <initializer_list>
#include <string>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class RecordFile;
class TClock;
class TRadioGroup;
class TVrProgressBar;

// Process-wide run flags, one byte each (0 or 1).
// Aborted: the run has failed or was stopped; outside a run it decides what Halt does.
extern std::uint8_t Aborted;
// ChannelOk: the board's command channel answers; guards every board command.
extern std::uint8_t ChannelOk;

inline constexpr const char* kWindowTitle = "FLASH Updater & Verifier V.1.6 - Kelvanto S.r.l.";

// Thrown out of a wait when the program is ending, so that the running handler
// unwinds to its edge and releases port and files on the way.
struct TProgramEnding {};

class TMainUpdater : public QWidget {
public:
    // `clock` measures every time limit; nullptr means the steady clock.
    explicit TMainUpdater(TPortMap ports = {}, TClock* clock = nullptr, QWidget* parent = nullptr);
    ~TMainUpdater() override;

    // ---- Controls (design) ----
    TRadioGroup* SerialGroup;
    QCheckBox* EnPOR;
    QCheckBox* verbox;
    QCheckBox* FastVer;
    QPushButton* BrowseButton;
    QPushButton* DownloadBtn;
    QPushButton* HaltBtn;
    QLineEdit* FileNameEdit;
    TVrProgressBar* BarBarb;
    QLabel* BarLab;
    QFrame* Bevel;
    QCheckBox* CheckBoxUP2;
    QPlainTextEdit* Memo1;
    TOpenDialog OpenDialog;
    TComPort ComPort;

    // ---- Handlers ----
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);
    void HaltBtnClick(QObject* Sender);
    void BrowseButtonClick(QObject* Sender);
    void DownloadBtnClick(QObject* Sender);

    // ---- Window services (app) ----
    // Lets the window handle every pending event, then returns; throws
    // TProgramEnding once the program has been asked to end.
    void ProcessMessages();
    // Ends the program: the event loop quits and a running handler unwinds.
    void EndProgram();
    bool ProgramEnded() const { return ending_; }
    // Writes a status text to BarLab; a changed text is painted at once.
    void SetStatus(const QString& text);
    QString StatusText() const;
    // Appends one line to Memo1.
    void AppendLog(const QString& line);
    TClock& Clock() { return *clock_; }

    // ---- Serial link ----
    void WrCom(std::uint8_t b);
    std::uint8_t RdCom();
    std::uint8_t RdComNoTimeOut();
    void Delay(std::uint16_t seconds, std::uint16_t milliseconds);

    // ---- Firmware file ----
    void ReadThrough(const std::string& path);
    char TranxHex(std::uint8_t value) const;
    std::string ToHex(std::uint8_t value) const;
    std::string HeavyDecoded(FirmwareRecord record) const;

    // ---- Board commands ----
    void OpenCOMChannel(std::uint8_t& Reply);
    void CloseCOMChannel();
    void ReadData(std::uint8_t AddressHigh, std::uint8_t AddressLow, std::uint8_t& Value);
    void WriteData(std::uint8_t AddressHigh, std::uint8_t AddressLow, std::uint8_t& Value);
    void ReadSPInLL(std::uint8_t Operand, std::uint8_t& Reply);
    void ReadSPExLL(std::uint8_t Operand, std::uint8_t& Reply);
    void SPIIntCMD(std::uint8_t Command, std::uint8_t AddressHigh, std::uint8_t AddressLow, std::uint8_t& Value);
    void SPIExtCMD(std::uint8_t Command, std::uint8_t AddressHigh, std::uint8_t AddressLow, std::uint8_t& Value);

    // Runs a handler body at the edge of the event loop: an error reaches the
    // error report, the end of the program ends the handler quietly.
    template <class Body>
    void Guarded(Body&& body);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // One Download run's own state (programming/, verification/).
    struct TRun {
        std::int64_t startMs = 0;
        int ErrorCount = 0;
        std::string path;
        bool verifyOnly = false;
        bool restartWaited = false;
        int mismatchLines = 0;     // "MP1ERR:"/"MP2ERR:" lines this run wrote
        bool keepChannelStatus = false; // "EQU not restarted!" stays the final status
    };

    void BuildDesign();
    void ReportHandlerError(const QString& message);

    // serial/
    std::uint8_t TakeAwaitedByte();

    // programming/
    void RunSetUp(TRun& run);
    void ProgrammingPhase(TRun& run);
    void BootHandshake();
    void RecordLoop(RecordFile& file, TRun& run);
    bool TransferRecord(const FirmwareRecord& record, long recordNumber);
    void CountFailedAttempt(TRun& run);
    void DrainInput();
    void RunEnd(TRun& run);
    void SetControlsLocked(bool locked);

    // verification/
    void VerificationPhase(TRun& run);
    struct TVerifyValues {
        std::uint8_t main = 0;   // filled by ReadData
        std::uint8_t second = 0; // passed to and filled by SPIIntCMD
    };
    void VerifyRecord(const FirmwareRecord& record, long recordNumber, TVerifyValues& values, TRun& run);
    void ChannelNotOpened(TRun& run);

    // One byte sent and the exact number of reply bytes it awaits (1 after a
    // command byte, 2 after an operand byte).
    struct TExchangeStep {
        std::uint8_t send;
        int awaited;
    };
    // Runs a guarded exchange under one deadline; true when every step got
    // exactly its bytes, and `kept` then holds the last byte of the last step.
    bool RunExchange(std::initializer_list<TExchangeStep> steps, std::uint8_t& kept);
    void SpiLowLevel(std::uint8_t prefix, std::uint8_t Operand, std::uint8_t& Reply);
    void SpiFrame(std::uint8_t prefix, std::uint8_t Command, std::uint8_t AddressHigh,
                  std::uint8_t AddressLow, std::uint8_t& Value);

    TClock* clock_;
    bool ending_ = false;
};

// The one window of the program, while it exists.
extern TMainUpdater* MainUpdater;

template <class Body>
void TMainUpdater::Guarded(Body&& body)
{
    try {
        body();
    } catch (const TProgramEnding&) {
        // The program is ending; destructors have released what the handler held.
    } catch (const std::exception& error) {
        ReportHandlerError(QString::fromStdString(error.what()));
    } catch (...) {
        ReportHandlerError(QStringLiteral("Unknown error"));
    }
}
