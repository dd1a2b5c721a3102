#pragma once
// A captioned group of mutually exclusive radio buttons addressed by index,
// with -1 meaning no item is selected.
#include <QGroupBox>
#include <QStringList>
#include <QVector>

class QButtonGroup;
class QRadioButton;

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    int itemIndex() const;
    void setItemIndex(int index);
    int count() const { return int(buttons_.size()); }
    // Arranges the items row by row in this many columns.
    void setColumns(int columns);
    QRadioButton* button(int index) const { return buttons_.value(index); }

signals:
    void itemIndexChanged(int index);

private:
    void arrange();

    int columns_ = 1;
    QButtonGroup* group_;
    QVector<QRadioButton*> buttons_;
};
