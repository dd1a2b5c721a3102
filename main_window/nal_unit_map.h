#pragma once
// Placeholder for the NAL unit map widget; replaced by the full map.
#include <QWidget>

class NalUnitMap : public QWidget {
    Q_OBJECT
public:
    explicit NalUnitMap(QWidget* parent = nullptr) : QWidget(parent) {}

signals:
    void cellSelected(int column, int row);
};
