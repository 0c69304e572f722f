#pragma once

#include <QWidget>

// Smooth horizontal progress bar with a navy-to-aqua gradient and no text of
// its own. A change of what it shows is painted at once, with whatever lies
// over it, without waiting for the event loop.
class TVrProgressBar : public QWidget {
public:
    explicit TVrProgressBar(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }

    // Clamped into Min()..Max().
    void SetPosition(int position);
    // A maximum not above the minimum is ignored.
    void SetMax(int max);
    void SetMin(int min);

    // Pixels of the inner area that the current position fills.
    int FilledWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Changed(int filledBefore);

    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};
