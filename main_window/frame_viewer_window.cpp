#include "main_window/frame_viewer_window.h"

#include "runner/handler_guard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;
namespace fv = kestrune::frameview;

// The Y-PSNR of every frame in a strip, the current frame marked; a click picks a frame.
class PsnrStrip : public QWidget {
public:
    explicit PsnrStrip(QWidget* parent) : QWidget(parent) { setMinimumHeight(56); }

    void setSeries(std::vector<std::vector<double>> series, qint64 frames)
    {
        series_ = std::move(series);
        frames_ = std::max<qint64>(frames, 1);
        update();
    }
    void setCurrent(qint64 frame)
    {
        current_ = frame;
        update();
    }
    std::function<void(qint64)> picked;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        const bool any = std::any_of(series_.begin(), series_.end(), [](const auto& s) { return !s.empty(); });
        if (!any) {
            painter.drawText(rect(), Qt::AlignCenter, u"No per-frame CSV beside the decode: no PSNR strip."_s);
        } else {
            double low = 100, high = 0;
            for (const auto& s : series_)
                for (double v : s) low = std::min(low, v), high = std::max(high, v);
            if (high - low < 1) high = low + 1;
            const QColor colours[] = {QColor(31, 119, 180), QColor(214, 39, 40)};
            for (std::size_t k = 0; k < series_.size(); ++k) {
                QPolygonF line;
                for (std::size_t i = 0; i < series_[k].size(); ++i)
                    line << QPointF(x(qint64(i)), 4 + (height() - 8) * (high - series_[k][i]) / (high - low));
                painter.setPen(colours[k % 2]);
                painter.drawPolyline(line);
            }
            painter.setPen(Qt::darkGray);
            painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignTop,
                             u"%1 dB"_s.arg(high, 0, 'f', 1));
            painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignBottom,
                             u"%1 dB"_s.arg(low, 0, 'f', 1));
        }
        painter.setPen(QPen(Qt::red, 2));
        painter.drawLine(QPointF(x(current_), 0), QPointF(x(current_), height()));
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (picked && width() > 0)
            picked(std::clamp<qint64>(qint64(event->position().x() * double(frames_) / width()), 0, frames_ - 1));
    }

private:
    double x(qint64 frame) const { return (double(frame) + 0.5) * width() / double(frames_); }
    std::vector<std::vector<double>> series_;
    qint64 frames_ = 1;
    qint64 current_ = 0;
};

FrameViewerWindow::FrameViewerWindow(kestrune::Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts)
{
    setWindowTitle(u"Frame Viewer"_s);
    buildControls();
    showNotes();
    render();
}

void FrameViewerWindow::buildControls()
{
    openButton_ = new QPushButton(u"Open Decode..."_s, this);
    compareButton_ = new QPushButton(u"Compare With..."_s, this);
    zoomBox_ = new QComboBox(this);
    zoomBox_->addItems({u"1x"_s, u"2x"_s, u"4x"_s, u"Fit"_s});
    zoomBox_->setCurrentIndex(ZoomFit);
    gainBox_ = new QComboBox(this);
    for (int gain : {1, 2, 4, 8, 16, 32}) gainBox_->addItem(u"Difference x%1"_s.arg(gain), gain);
    gainBox_->setCurrentIndex(3);
    scaleLabel_ = new QLabel(this);
    auto* top = new QHBoxLayout;
    top->addWidget(openButton_);
    top->addWidget(compareButton_);
    top->addWidget(new QLabel(u"Zoom:"_s, this));
    top->addWidget(zoomBox_);
    top->addWidget(gainBox_);
    top->addWidget(scaleLabel_);
    top->addStretch(1);

    auto* overlays = new QHBoxLayout;
    overlays->addWidget(new QLabel(u"On the decode:"_s, this));
    for (const auto& [text, overlay] : {std::pair{u"Lost"_s, unsigned(fv::LostOverlay)},
                                        std::pair{u"Concealed"_s, unsigned(fv::ConcealedOverlay)},
                                        std::pair{u"Predicted from damage"_s, unsigned(fv::FromDamageOverlay)},
                                        std::pair{u"Slice groups"_s, unsigned(fv::SliceGroupOverlay)}}) {
        auto* box = new QCheckBox(text, this);
        box->setChecked(overlay != fv::SliceGroupOverlay);
        overlays->addWidget(box);
        overlayBoxes_.push_back({box, overlay});
        connect(box, &QCheckBox::toggled, this, [this] { render(); });
    }
    QString legend = u"Concealed by: "_s;
    for (char code : {kestrune::quality::kMbAverageDc, kestrune::quality::kMbAverageMacroblock,
                      kestrune::quality::kMbBilinear, kestrune::quality::kMbBoundaryMatching,
                      kestrune::quality::kMbRepeated})
        legend += u"<span style=\"background:%1\">&nbsp;&nbsp;&nbsp;</span> %2 &nbsp;"_s.arg(
            fv::concealmentColour(code).name(), QString::fromLatin1(kestrune::quality::concealmentOfCode(code)));
    legend_ = new QLabel(legend + u"<span style=\"color:red\">&#9633;</span> lost"_s, this);
    overlays->addWidget(legend_, 1);

    auto* views = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        titles_[i] = new QLabel(this);
        images_[i] = new QLabel;
        images_[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        scrolls_[i] = new QScrollArea(this);
        scrolls_[i]->setWidget(images_[i]);
        scrolls_[i]->setAlignment(Qt::AlignCenter);
        scrolls_[i]->setMinimumSize(200, 170);
        auto* column = new QVBoxLayout;
        column->addWidget(titles_[i]);
        column->addWidget(scrolls_[i], 1);
        views->addLayout(column, 1);
    }
    // One zoom, one place: the three views scroll together.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (i != j) {
                connect(scrolls_[i]->horizontalScrollBar(), &QScrollBar::valueChanged,
                        scrolls_[j]->horizontalScrollBar(), &QScrollBar::setValue);
                connect(scrolls_[i]->verticalScrollBar(), &QScrollBar::valueChanged, scrolls_[j]->verticalScrollBar(),
                        &QScrollBar::setValue);
            }

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setPageStep(10);
    nextLossButton_ = new QPushButton(u"Next Loss"_s, this);
    auto* frameRow = new QHBoxLayout;
    frameRow->addWidget(slider_, 1);
    frameRow->addWidget(nextLossButton_);
    readout_ = new QLabel(this);
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    strip_ = new PsnrStrip(this);
    strip_->picked = [this](qint64 frame) { showFrame(frame); };

    exportButton_ = new QPushButton(u"Export PNG..."_s, this);
    seriesFrom_ = new QSpinBox(this);
    seriesTo_ = new QSpinBox(this);
    seriesButton_ = new QPushButton(u"Export Series..."_s, this);
    auto* exportRow = new QHBoxLayout;
    exportRow->addWidget(exportButton_);
    exportRow->addStretch(1);
    exportRow->addWidget(new QLabel(u"Frames"_s, this));
    exportRow->addWidget(seriesFrom_);
    exportRow->addWidget(new QLabel(u"to"_s, this));
    exportRow->addWidget(seriesTo_);
    exportRow->addWidget(seriesButton_);
    notesLabel_ = new QLabel(this);
    notesLabel_->setWordWrap(true);
    notesLabel_->setStyleSheet(u"color: #8b0000"_s);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(overlays);
    layout->addLayout(views, 1);
    layout->addLayout(frameRow);
    layout->addWidget(readout_);
    layout->addWidget(strip_);
    layout->addLayout(exportRow);
    layout->addWidget(notesLabel_);
    resize(1180, 640);

    const auto guarded = [this](std::function<void()> handler) {
        return [this, handler] { kestrune::runGuarded(prompts_, handler); };
    };
    connect(openButton_, &QPushButton::clicked, this, guarded([this] { openDecodeClicked(); }));
    connect(compareButton_, &QPushButton::clicked, this, guarded([this] { compareClicked(); }));
    connect(exportButton_, &QPushButton::clicked, this, guarded([this] { exportViewClicked(); }));
    connect(seriesButton_, &QPushButton::clicked, this, guarded([this] { exportSeriesClicked(); }));
    connect(nextLossButton_, &QPushButton::clicked, this, guarded([this] { nextLoss(); }));
    connect(zoomBox_, &QComboBox::currentIndexChanged, this, [this] { render(); });
    connect(gainBox_, &QComboBox::currentIndexChanged, this, [this] { render(); });
    connect(slider_, &QSlider::valueChanged, this, [this](int value) { showFrame(value); });
    // The keys step through the frames wherever the focus is in the window.
    const std::pair<QKeySequence, std::function<qint64()>> keys[] = {
        {Qt::Key_Left, [this] { return frame_ - 1; }},       {Qt::Key_Right, [this] { return frame_ + 1; }},
        {Qt::Key_Home, [] { return qint64(0); }},            {Qt::Key_End, [this] { return frameCount() - 1; }},
        {Qt::Key_PageUp, [this] { return frame_ - 10; }},    {Qt::Key_PageDown, [this] { return frame_ + 10; }}};
    for (const auto& key : keys) {
        auto* shortcut = new QShortcut(key.first, this);
        connect(shortcut, &QShortcut::activated, this, [this, target = key.second] {
            showFrame(std::clamp<qint64>(target(), 0, std::max<qint64>(frameCount() - 1, 0)));
        });
    }
}

qint64 FrameViewerWindow::frameCount() const { return a_ ? a_->frames().frames() : 0; }

bool FrameViewerWindow::openDecode(const FrameViewerSource& source, qint64 frame)
{
    auto decode = std::make_unique<fv::ViewedDecode>();
    if (!decode->open(source.decoded, source.originalSize)) {
        prompts_.message(decode->error());
        return false;
    }
    QStringList notes = decode->notes();
    std::unique_ptr<fv::YuvFrameFile> original;
    if (!source.original.isEmpty()) {
        const fv::FrameSize size = source.originalSize.valid() ? source.originalSize : decode->size();
        if (const QString mismatch = fv::sizeMismatch(source.original, size, source.decoded, decode->size());
            !mismatch.isEmpty()) {
            prompts_.message(mismatch);
            return false;
        }
        original = std::make_unique<fv::YuvFrameFile>();
        if (!original->open(source.original, size)) {
            notes << u"No original panel: "_s + original->error() + u'.';
            original.reset();
        } else if (original->frames() < decode->frames().frames()) {
            notes << u"The original holds only %1 frames, the decode %2: the later ones have no original."_s
                         .arg(original->frames()).arg(decode->frames().frames());
        }
    } else {
        notes << u"No original given: give the encoder's Input YUV File to see the difference to it."_s;
    }
    source_ = source;
    a_ = std::move(decode);
    b_.reset();
    original_ = std::move(original);
    notes_ = notes;
    compareButton_->setText(u"Compare With..."_s);
    setWindowTitle(u"Frame Viewer: "_s + a_->name());
    const QSignalBlocker block(slider_);
    slider_->setRange(0, int(frameCount() - 1));
    seriesFrom_->setRange(0, int(frameCount() - 1));
    seriesTo_->setRange(0, int(frameCount() - 1));
    seriesTo_->setValue(int(frameCount() - 1));
    strip_->setSeries({a_->psnrY()}, frameCount());
    frame_ = -1;
    showFrame(std::clamp<qint64>(frame, 0, frameCount() - 1));
    showNotes();
    return true;
}

void FrameViewerWindow::setOriginal(const QString& path, fv::FrameSize size)
{
    source_.original = path;
    source_.originalSize = size;
}

bool FrameViewerWindow::compareWith(const QString& decodedB)
{
    if (!a_) {
        prompts_.message(u"Open a decode first, then the decode to compare it with."_s);
        return false;
    }
    auto decode = std::make_unique<fv::ViewedDecode>();
    if (!decode->open(decodedB, a_->size())) {
        prompts_.message(decode->error());
        return false;
    }
    if (const QString mismatch = fv::sizeMismatch(a_->name(), a_->size(), decode->name(), decode->size());
        !mismatch.isEmpty()) {
        prompts_.message(mismatch);
        return false;
    }
    b_ = std::move(decode);
    if (b_->frames().frames() != a_->frames().frames())
        notes_ << u"%1 holds %2 frames, %3 %4: only the first %5 are compared."_s.arg(b_->name())
                      .arg(b_->frames().frames()).arg(a_->name()).arg(a_->frames().frames())
                      .arg(std::min(a_->frames().frames(), b_->frames().frames()));
    notes_ << b_->notes();
    compareButton_->setText(u"Stop Comparing"_s);
    strip_->setSeries({a_->psnrY(), b_->psnrY()}, frameCount());
    const qint64 frame = frame_;
    frame_ = -1;
    showFrame(frame);
    showNotes();
    return true;
}

void FrameViewerWindow::stopComparing()
{
    if (!b_) return;
    b_.reset();
    compareButton_->setText(u"Compare With..."_s);
    if (a_) strip_->setSeries({a_->psnrY()}, frameCount());
    const qint64 frame = frame_;
    frame_ = -1;
    showFrame(frame);
}

QByteArray FrameViewerWindow::originalFrame(qint64 frame)
{
    if (!original_ || frame >= original_->frames()) return {};
    return original_->read(frame);
}

void FrameViewerWindow::showFrame(qint64 frame)
{
    if (!a_ || frame < 0 || frame >= frameCount()) return;
    if (frame != frame_) {
        // Only the frame shown is read: a long file steps as fast as the keys.
        frame_ = frame;
        aBytes_ = a_->frames().read(frame);
        bBytes_ = b_ && frame < b_->frames().frames() ? b_->frames().read(frame) : QByteArray();
        originalBytes_ = originalFrame(frame);
    }
    const QSignalBlocker block(slider_);
    slider_->setValue(int(frame));
    strip_->setCurrent(frame);
    render();
}

double FrameViewerWindow::zoomFactor() const
{
    switch (zoomBox_->currentIndex()) {
        case Zoom1: return 1;
        case Zoom2: return 2;
        case Zoom4: return 4;
        default: break;
    }
    if (!a_) return 1;
    const QSize room = scrolls_[0]->viewport()->size();
    return std::max(0.25, std::min(double(room.width() - 2) / a_->size().width,
                                   double(room.height() - 2) / a_->size().height));
}

std::vector<fv::Panel> FrameViewerWindow::panels(double zoom) const
{
    if (!a_) return {};
    const fv::FrameSize size = a_->size();
    unsigned overlays = 0;
    for (const auto& [box, overlay] : overlayBoxes_)
        if (box->isChecked()) overlays |= overlay;
    const int gain = gainBox_->currentData().toInt();
    const auto decoded = [&](const fv::ViewedDecode& d, const QByteArray& bytes) {
        QImage image = fv::zoomed(fv::frameImage(bytes, size), zoom);
        if (const auto* loss = d.loss(frame_)) fv::paintOverlays(image, *loss, d.mbWidth(), overlays, zoom);
        return image;
    };
    const auto blank = [&](const QString& why) {
        QImage image = fv::zoomed(QImage(size.width, size.height, QImage::Format_RGB32), zoom);
        image.fill(Qt::lightGray);
        QPainter(&image).drawText(image.rect(), Qt::AlignCenter | Qt::TextWordWrap, why);
        return image;
    };
    const auto difference = [&](const QByteArray& x, const QByteArray& y) {
        return x.isEmpty() || y.isEmpty() ? blank(u"no difference: a frame is missing"_s)
                                          : fv::zoomed(fv::differenceImage(x, y, size, gain), zoom);
    };
    if (b_)
        return {{u"A: "_s + a_->name(), decoded(*a_, aBytes_)},
                {u"B: "_s + b_->name(), bBytes_.isEmpty() ? blank(u"B has no such frame"_s) : decoded(*b_, bBytes_)},
                {u"|A - B| (Y) x%1"_s.arg(gain), difference(aBytes_, bBytes_)}};
    const QImage original = originalBytes_.isEmpty() ? blank(u"no original frame"_s)
                                                     : fv::zoomed(fv::frameImage(originalBytes_, size), zoom);
    return {{u"Original"_s, original},
            {u"Decoded: "_s + a_->name(), decoded(*a_, aBytes_)},
            {u"|Original - Decoded| (Y) x%1"_s.arg(gain), difference(originalBytes_, aBytes_)}};
}

void FrameViewerWindow::render()
{
    const int gain = gainBox_->currentData().toInt();
    scaleLabel_->setPixmap(QPixmap::fromImage(fv::differenceScale(gain, 200)));
    const std::vector<fv::Panel> shown = panels(zoomFactor());
    for (int i = 0; i < 3; ++i) {
        titles_[i]->setText(i < int(shown.size()) ? shown[std::size_t(i)].title : QString());
        images_[i]->setPixmap(i < int(shown.size()) ? QPixmap::fromImage(shown[std::size_t(i)].image) : QPixmap());
        images_[i]->adjustSize();
    }
    const bool open = a_ != nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{compareButton_, slider_, nextLossButton_, exportButton_,
                                                      seriesButton_, seriesFrom_, seriesTo_})
        w->setEnabled(open);
    if (!open) {
        readout_->setText(u"No decode open: Open Decode... (or double-click a point of the Quality Plot)."_s);
        return;
    }
    const auto line = [&](const QString& prefix, const fv::ViewedDecode& d, const QByteArray& bytes,
                          const QByteArray& reference) {
        std::optional<kestrune::quality::FrameQuality> quality;
        if (!bytes.isEmpty() && !reference.isEmpty()) quality = fv::frameQuality(reference, bytes, d.size());
        return prefix + fv::readout(frame_, frameCount(), d.loss(frame_), quality ? &*quality : nullptr);
    };
    if (b_) {
        readout_->setText(line(u"A: "_s, *a_, aBytes_, originalBytes_) + u'\n'
                          + line(u"B: "_s, *b_, bBytes_, originalBytes_));
    } else {
        readout_->setText(line(QString(), *a_, aBytes_, originalBytes_));
    }
}

void FrameViewerWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (zoomBox_->currentIndex() == ZoomFit) render();
}

void FrameViewerWindow::setZoom(Zoom zoom) { zoomBox_->setCurrentIndex(zoom); }

void FrameViewerWindow::setOverlays(unsigned overlays)
{
    for (const auto& [box, overlay] : overlayBoxes_) box->setChecked((overlays & overlay) != 0);
}

QImage FrameViewerWindow::panel(int index) const
{
    const QPixmap pixmap = images_[index]->pixmap();
    return pixmap.toImage();
}

QString FrameViewerWindow::readoutText() const { return readout_->text(); }
QString FrameViewerWindow::notesText() const { return notesLabel_->text(); }

void FrameViewerWindow::showNotes()
{
    notesLabel_->setText(notes_.join(u'\n'));
    notesLabel_->setVisible(!notes_.isEmpty());
}

void FrameViewerWindow::nextLoss()
{
    if (!a_) return;
    qint64 next = fv::nextFrameWithLoss(*a_, frame_);
    if (b_) {
        const qint64 nextB = fv::nextFrameWithLoss(*b_, frame_);
        if (nextB >= 0 && (next < 0 || nextB < next)) next = nextB;
    }
    if (next < 0) return prompts_.message(u"No frame after %1 has lost macroblocks."_s.arg(frame_));
    showFrame(next);
}

bool FrameViewerWindow::exportView(const QString& path)
{
    return a_ && fv::sideBySide(panels(zoomFactor())).save(path, "PNG");
}

fv::SeriesResult FrameViewerWindow::exportFrames(const QString& chosen, qint64 from, qint64 to)
{
    const qint64 shown = frame_;
    QProgressDialog progress(u"Writing PNG images..."_s, u"Stop"_s, 0, int(to - from + 1), this);
    progress.setMinimumDuration(500);
    const fv::SeriesResult result = fv::exportSeries(
        chosen, from, to,
        [this](qint64 frame) {
            showFrame(frame);
            return fv::sideBySide(panels(zoomFactor()));
        },
        [&progress](qint64 done, qint64) {
            progress.setValue(int(done));
            return !progress.wasCanceled();
        });
    showFrame(shown);
    return result;
}

void FrameViewerWindow::openDecodeClicked()
{
    if (const auto path = prompts_.openFile(u"YUV File (*.yuv)|*.yuv"_s))
        openDecode({source_.original, source_.originalSize, *path});
}

void FrameViewerWindow::compareClicked()
{
    if (b_) return stopComparing();
    if (const auto path = prompts_.openFile(u"YUV File (*.yuv)|*.yuv"_s)) compareWith(*path);
}

void FrameViewerWindow::exportViewClicked()
{
    if (const auto path = prompts_.saveFile(u"PNG Image (*.png)|*.png"_s); path && !exportView(*path))
        prompts_.message(u"The view could not be written to "_s + *path);
}

void FrameViewerWindow::exportSeriesClicked()
{
    const qint64 from = seriesFrom_->value(), to = seriesTo_->value();
    if (from > to) return prompts_.message(u"The first frame of the series comes after its last."_s);
    const auto path = prompts_.saveFile(u"PNG Image (*.png)|*.png"_s);
    if (!path) return;
    const fv::SeriesResult result = exportFrames(*path, from, to);
    if (!result.error.isEmpty()) return prompts_.message(result.error);
    prompts_.message(u"%1 images written: %2 to %3."_s.arg(result.written.size())
                         .arg(result.written.value(0), result.written.value(result.written.size() - 1)));
}
