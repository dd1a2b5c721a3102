#include "dialogs/tform2.h"

#include "dialogs/jpeg_image.h"

#include <QFile>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>

using namespace Qt::StringLiterals;

// The logo lives in a static library's resource, which the linker would
// drop unless it is referenced.
static void initLogoResource()
{
    Q_INIT_RESOURCE(logo);
}

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(u"About..."_s);
    setFixedSize(404, 292);
    setModal(false);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    initLogoResource();
    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 250, 58);
    QFile logo(u":/logo.jpg"_s);
    if (logo.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = logo.readAll();
        const kestrune::JpegResult decoded =
            kestrune::decodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
        if (!decoded.image.isNull()) Image1->setPixmap(QPixmap::fromImage(decoded.image));
    }

    Label1 = new QLabel(u"KESTRUNE v1.0"_s, this);
    QFont title = font();
    title.setBold(true);
    title.setPixelSize(21);
    Label1->setFont(title);
    Label1->setGeometry(16, 70, 372, 32);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 110, 388, 4);

    Label2 = new QLabel(this);
    Label2->setText(u"A workbench for error-resilience experiments with H.264/AVC video: "
                    "encode, map NAL units, simulate Gilbert burst loss, decode with "
                    "error concealment, and play the results.\n\n"
                    "Built with Qt, libx264, libavcodec and the IJG JPEG library."_s);
    Label2->setGeometry(16, 122, 380, 110);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setWordWrap(true);

    Button1 = new QPushButton(u"OK"_s, this);
    Button1->setGeometry((404 - 75) / 2, 292 - 25 - 12, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm2::Button1Click()
{
    hide();
}
