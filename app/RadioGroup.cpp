#include "app/RadioGroup.h"

TRadioGroup::TRadioGroup(const QStringList& items, QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Sunken); // a group without a caption, 3-D border
    for (const QString& text : items) {
        auto* button = new QRadioButton(text, this);
        group_.addButton(button, static_cast<int>(buttons_.size()));
        buttons_.push_back(button);
    }
}

int TRadioGroup::ItemIndex() const
{
    return group_.checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index < 0 || index >= ItemCount()) {
        // Unchecking needs the group's exclusivity off for a moment.
        group_.setExclusive(false);
        for (auto* button : buttons_) button->setChecked(false);
        group_.setExclusive(true);
        return;
    }
    Item(index)->setChecked(true);
}

// Items share the inner height evenly, as a radio group lays them out.
void TRadioGroup::resizeEvent(QResizeEvent*)
{
    const int margin = 4;
    const int rows = std::max(1, ItemCount());
    const int rowHeight = (height() - 2 * margin) / rows;
    for (int i = 0; i < ItemCount(); ++i)
        Item(i)->setGeometry(margin + 4, margin + i * rowHeight, width() - 2 * margin - 4, rowHeight);
}
