#include "main_window/source_box.h"

#include <QComboBox>

namespace kestrune {

int chosenSource(const QComboBox* box)
{
    const int index = box->currentIndex();
    if (index < 0 || index > 1 || box->currentText() != box->itemText(index)) return -1;
    return index;
}

} // namespace kestrune
