// The position track bar: frame positions from Minimum() to Maximum(), a tick
// at every Frequency() positions below the bar, arrow keys one position, page
// keys two, and a selection (SelStart..SelEnd, the clip range) drawn as a
// highlighted stretch, and a dotted frame while it has the keyboard focus.
// valueChanged() reports every change of the position,
// made by the user or by the program.
#pragma once

#include <QSlider>

class TTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBar(QWidget* parent = nullptr);

    int Position() const { return value(); }
    void SetPosition(int position) { setValue(position); }

    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }
    // The selection as given (clamped to the bar's span when drawn).
    void SetSelStart(int position);
    void SetSelEnd(int position);

    int Frequency() const { return tickInterval(); }
    void SetFrequency(int frequency) { setTickInterval(frequency); }

signals:
    void SelectionChanged(int selStart, int selEnd);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void UpdateToolTip();

    int FSelStart = 0;
    int FSelEnd = 0;
};
