#include "support/RunFixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/RadioGroup.h"

RunFixture::RunFixture(boardsim::Options options) : board(options), clock(board)
{
    w = std::make_unique<TMainUpdater>(TPortMap{board.DevicePath(), "/dev/null-com2"}, &clock);
    SetErrorBox([this](QWidget*, const QString&, const QString& text) { errors.push_back(text); });
}

RunFixture::~RunFixture()
{
    SetErrorBox({});
}

std::string RunFixture::UseImage(const std::vector<boardsim::PlainRecord>& records, std::size_t extraBytes)
{
    std::vector<std::uint8_t> bytes = boardsim::EncodeFirmware(records);
    bytes.insert(bytes.end(), extraBytes, 0x5A);
    const std::string path = dir.Write("IMAGE.FRM", bytes);
    w->FileNameEdit->setText(QString::fromStdString(path));
    return path;
}

void RunFixture::Download()
{
    w->DownloadBtn->click();
}

static std::vector<std::uint8_t> Direction(const boardsim::BoardSim& board, bool fromTool)
{
    std::vector<std::uint8_t> out;
    for (const auto& entry : board.Transcript())
        if (entry.fromTool == fromTool) out.push_back(entry.byte);
    return out;
}

std::vector<std::uint8_t> RunFixture::ToolBytes() const
{
    return Direction(board, true);
}

std::vector<std::uint8_t> RunFixture::BoardBytes() const
{
    return Direction(board, false);
}

std::vector<QString> RunFixture::LogLines() const
{
    QStringList lines = w->Memo1->toPlainText().split(u'\n');
    lines.removeFirst();
    return {lines.begin(), lines.end()};
}

bool RunFixture::ControlsUnlocked() const
{
    for (QWidget* c : {static_cast<QWidget*>(w->DownloadBtn), static_cast<QWidget*>(w->BrowseButton),
                       static_cast<QWidget*>(w->FileNameEdit), static_cast<QWidget*>(w->SerialGroup),
                       static_cast<QWidget*>(w->EnPOR), static_cast<QWidget*>(w->HaltBtn)})
        if (!c->isEnabled()) return false;
    return true;
}

std::vector<std::uint8_t> RecordBytes(const boardsim::PlainRecord& record, std::uint8_t mismatches)
{
    std::vector<std::uint8_t> bytes{0x55};
    const std::vector<std::uint8_t> stored = boardsim::EncodeFirmware({record});
    bytes.insert(bytes.end(), stored.begin(), stored.end());
    bytes.push_back(mismatches);
    return bytes;
}

std::vector<boardsim::PlainRecord> Image(int records, std::uint16_t firstAddress)
{
    std::vector<boardsim::PlainRecord> image;
    for (int r = 0; r < records; ++r) {
        boardsim::PlainRecord record{static_cast<std::uint16_t>(firstAddress + r * 128),
                                     static_cast<std::uint8_t>(r * 37 + 5), {}};
        for (std::size_t j = 0; j < record.data.size(); ++j)
            record.data[j] = static_cast<std::uint8_t>(r * 11 + j * 3);
        image.push_back(record);
    }
    return image;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
