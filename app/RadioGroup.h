#pragma once

#include <QButtonGroup>
#include <QFrame>
#include <QRadioButton>
#include <QStringList>
#include <vector>

// A framed group of radio buttons with one selected item (-1 for none).
class TRadioGroup : public QFrame {
public:
    TRadioGroup(const QStringList& items, QWidget* parent = nullptr);

    int ItemIndex() const;
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
    int ItemCount() const { return static_cast<int>(buttons_.size()); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QButtonGroup group_;
    std::vector<QRadioButton*> buttons_;
};
