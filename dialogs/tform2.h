#pragma once
// The About dialog: logo, title, credits and an OK button that hides it.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    void Button1Click();   // OK: hide, keep for the next showing

    QLabel* Image1;        // the logo, decoded from the JPEG carried by the program
    QLabel* Label1;        // title
    QFrame* Bevel1;        // horizontal rule
    QLabel* Label2;        // credit lines
    QPushButton* Button1;  // OK
};
