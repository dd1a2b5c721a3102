#include "main_window/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this))
{
    for (const QString& item : items) {
        auto* button = new QRadioButton(item, this);
        group_->addButton(button, int(buttons_.size()));
        buttons_.push_back(button);
    }
    arrange();
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) emit itemIndexChanged(id);
    });
}

void RadioGroup::setColumns(int columns)
{
    columns_ = std::max(1, columns);
    arrange();
}

void RadioGroup::arrange()
{
    delete layout();
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);
    for (int i = 0; i < count(); ++i) grid->addWidget(buttons_[i], i / columns_, i % columns_);
    grid->setRowStretch((count() + columns_ - 1) / columns_, 1);
}

int RadioGroup::itemIndex() const
{
    return group_->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < count()) {
        buttons_[index]->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last checked button.
    group_->setExclusive(false);
    for (QRadioButton* button : buttons_) button->setChecked(false);
    group_->setExclusive(true);
}
