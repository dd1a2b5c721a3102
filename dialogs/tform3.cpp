#include "dialogs/tform3.h"

#include "runner/handler_guard.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <utility>

using namespace Qt::StringLiterals;

TForm3::TForm3(kestrune::Prompts& prompts, PathConfirmed confirmed, QWidget* parent)
    : QDialog(parent), prompts(prompts), confirmed_(std::move(confirmed))
{
    setWindowTitle(u"H.264 Video Player..."_s);
    QFont face = font();
    face.setPixelSize(11);
    setFont(face);
    setFixedSize(332, 114);
    setModal(false);

    Label1 = new QLabel(u"Player Address:"_s, this);
    Label1->setGeometry(16, 16, 233, 18);
    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(16, 36, 233, 24);
    QObject::connect(Edit1, &QLineEdit::textChanged, Edit1, &QWidget::setToolTip);  // the whole path of a long one
    Button1 = new QPushButton(u"Browse..."_s, this);
    Button1->setGeometry(256, 35, 64, 26);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), u"OK"_s, this);
    BitBtn1->setGeometry(86, 76, 75, 27);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), u"Cancel"_s, this);
    BitBtn2->setGeometry(172, 76, 75, 27);

    auto on = [this](QPushButton* button, void (TForm3::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { kestrune::runGuarded(this->prompts, [this, handler] { (this->*handler)(); }); });
    };
    on(Button1, &TForm3::Button1Click);
    on(BitBtn1, &TForm3::BitBtn1Click);
    on(BitBtn2, &TForm3::BitBtn2Click);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm3::reject()
{
    // Esc and the title-bar close act as the Cancel button.
    BitBtn2->click();
}
