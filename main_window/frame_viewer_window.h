#pragma once
// "Frame Viewer": the original, a decode and their difference side by side at
// one zoom, the decoder's loss map drawn over the decode, a frame slider with
// the per-frame PSNR strip; or two decodes of one channel output and their
// difference. Frames are read from disk as they are shown.
#include "frame_view/frame_images.h"
#include "frame_view/viewed_decode.h"
#include "runner/prompts.h"

#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class PsnrStrip;

struct FrameViewerSource {
    QString original;                              // may be empty: no original panel
    kestrune::frameview::FrameSize originalSize;   // invalid when unknown
    QString decoded;
};

class FrameViewerWindow : public QWidget {
    Q_OBJECT
public:
    FrameViewerWindow(kestrune::Prompts& prompts, QWidget* parent = nullptr);

    // Opens a decode against its original at a frame; false, with the message
    // shown, when it cannot be shown (what was open stays).
    bool openDecode(const FrameViewerSource& source, qint64 frame = 0);
    // The original that "Open Decode..." compares with, before any decode is open.
    void setOriginal(const QString& path, kestrune::frameview::FrameSize size);
    // Decode B of the same channel output beside the open decode; false with the message shown.
    bool compareWith(const QString& decodedB);
    void stopComparing();
    void showFrame(qint64 frame);
    qint64 currentFrame() const { return frame_; }
    qint64 frameCount() const;

    enum Zoom { Zoom1, Zoom2, Zoom4, ZoomFit };
    void setZoom(Zoom zoom);
    void setOverlays(unsigned overlays);  // a frameview::Overlay mask

    // The three panels as shown (overlays and zoom included), side by side, as PNG.
    bool exportView(const QString& path);
    kestrune::frameview::SeriesResult exportFrames(const QString& chosen, qint64 from, qint64 to);

    const kestrune::frameview::ViewedDecode* decode() const { return a_.get(); }
    const kestrune::frameview::ViewedDecode* comparison() const { return b_.get(); }
    qint64 originalReads() const { return original_ ? original_->reads() : 0; }
    QImage panel(int index) const;
    QString readoutText() const;
    QString notesText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    void render();          // panels from the frames in memory
    double zoomFactor() const;
    std::vector<kestrune::frameview::Panel> panels(double zoom) const;
    QByteArray originalFrame(qint64 frame);
    void showNotes();
    void nextLoss();
    void exportViewClicked();
    void exportSeriesClicked();
    void openDecodeClicked();
    void compareClicked();

    kestrune::Prompts& prompts_;
    FrameViewerSource source_;
    std::unique_ptr<kestrune::frameview::ViewedDecode> a_, b_;
    std::unique_ptr<kestrune::frameview::YuvFrameFile> original_;
    qint64 frame_ = -1;
    QByteArray originalBytes_, aBytes_, bBytes_;  // the frame shown
    QStringList notes_;

    QPushButton* openButton_;
    QPushButton* compareButton_;
    QComboBox* zoomBox_;
    QComboBox* gainBox_;
    QLabel* scaleLabel_;
    std::vector<std::pair<QCheckBox*, unsigned>> overlayBoxes_;
    QLabel* legend_;
    QLabel* titles_[3];
    QScrollArea* scrolls_[3];
    QLabel* images_[3];
    QSlider* slider_;
    QPushButton* nextLossButton_;
    QLabel* readout_;
    PsnrStrip* strip_;
    QSpinBox* seriesFrom_;
    QSpinBox* seriesTo_;
    QPushButton* exportButton_;
    QPushButton* seriesButton_;
    QLabel* notesLabel_;
};
