#pragma once
// An up-down spinner bound to a separate edit, as the quantizer field needs:
// a click first emits changing() (the position has not moved yet), then moves
// the position within min..max and writes it into the bound edit.
#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(int minimum, int maximum, int position, QWidget* parent = nullptr);

    int position() const { return position_; }
    // Sets the position (clamped) without touching the bound edit.
    void setPosition(int position);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setAssociate(QLineEdit* edit) { associate_ = edit; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    // One click on the up (+1) or down (-1) arrow.
    void step(int direction);

signals:
    void changing();

private:
    int minimum_;
    int maximum_;
    int position_;
    QLineEdit* associate_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
};
