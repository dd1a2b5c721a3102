#pragma once
// The viewer's panel images: a frame in colour, the amplified luma difference
// and its scale, the macroblock overlays, zoom and the side-by-side export.
#include "frame_view/yuv_frame_file.h"
#include "tools/quality/frame_loss_file.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <vector>

namespace kestrune::frameview {

// The frame in colour (ITU-R BT.601 studio range, what the encoder expects).
QImage frameImage(const QByteArray& yuv, FrameSize size);

// min(255, |Ya - Yb| * gain) as grey: identical frames give a black image.
QImage differenceImage(const QByteArray& a, const QByteArray& b, FrameSize size, int gain);
// The legend for a gain: a grey ramp from 0 to the difference that reaches white.
QImage differenceScale(int gain, int width);

enum Overlay : unsigned {
    LostOverlay = 1,        // lost in this picture: an outline
    ConcealedOverlay = 2,   // concealed: filled in the method's colour
    FromDamageOverlay = 4,  // decoded, but predicted from a damaged area: hatched
    SliceGroupOverlay = 8,  // the slice group map: a tint per group
};

// The macroblocks an overlay marks (the slice group overlay marks none).
std::vector<bool> markedMacroblocks(const quality::FrameLossEntry& entry, Overlay overlay);
QColor concealmentColour(char code);
QColor sliceGroupColour(int group);

// Draws the overlays (an Overlay mask) on an image of the picture shown at
// `scale` image pixels per sample; entries without macroblock detail draw nothing.
void paintOverlays(QImage& image, const quality::FrameLossEntry& entry, int mbWidth, unsigned overlays, double scale);

// Nearest-neighbour scaling: the samples of a zoomed view stay sharp squares.
QImage zoomed(const QImage& image, double zoom);

struct Panel {
    QString title;
    QImage image;
};
// The panels side by side under their titles, on white: what the export writes.
QImage sideBySide(const std::vector<Panel>& panels);

} // namespace kestrune::frameview
