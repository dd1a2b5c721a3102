#pragma once
// One decode as the viewer opens it: its frames (read on demand), the loss map
// and per-frame CSV kept beside it, and the checks and notes that go with
// opening it against an original or another decode.
#include "frame_view/yuv_frame_file.h"
#include "tools/quality/frame_loss_file.h"
#include "tools/quality/quality.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kestrune::frameview {

class ViewedDecode {
public:
    // The picture size comes from the loss map beside the file (FILE.mbloss),
    // else from `fallback` (the original's). False with error() set when the
    // file cannot be shown; notes() say what is missing but not fatal.
    bool open(const QString& path, FrameSize fallback);
    YuvFrameFile& frames() { return *frames_; }
    const YuvFrameFile& frames() const { return *frames_; }
    FrameSize size() const { return frames_->size(); }
    bool hasLossMap() const { return lossMap_.has_value(); }
    int mbWidth() const { return (size().width + 15) / 16; }
    // The frame's loss entry; null when there is no loss map or it has no such frame.
    const quality::FrameLossEntry* loss(qint64 frame) const;
    // Y-PSNR per frame from the CSV beside the decode; empty when there is none.
    const std::vector<double>& psnrY() const { return psnrY_; }
    const QString& error() const { return error_; }
    const QStringList& notes() const { return notes_; }
    QString name() const;  // file name

private:
    std::unique_ptr<YuvFrameFile> frames_ = std::make_unique<YuvFrameFile>();
    std::optional<quality::FrameLossFile> lossMap_;
    std::vector<double> psnrY_;
    QString error_;
    QStringList notes_;
};

// Why `other` cannot be shown beside `reference` (empty when it can): a
// different picture size; a different frame count is a note, not a refusal.
QString sizeMismatch(const QString& referenceName, FrameSize reference, const QString& otherName, FrameSize other);

// The first frame after `from` whose picture had lost macroblocks; -1 when none.
qint64 nextFrameWithLoss(const ViewedDecode& decode, qint64 from);

// The psnr_y column of the window's per-frame CSV (empty when the text is not one).
std::vector<double> psnrYFromCsv(const QString& text);

// "Frame 12 of 300: P picture, PSNR Y 31.20 U 38.10 V 39.05 dB, SSIM 0.9120, 9 lost, 9 concealed (boundary matching)"
QString readout(qint64 frame, qint64 frames, const quality::FrameLossEntry* loss, const quality::FrameQuality* quality);
// The Y, U, V PSNR and SSIM of one decoded frame against its original.
quality::FrameQuality frameQuality(const QByteArray& original, const QByteArray& decoded, FrameSize size);

// "paper.png", frame 7 of a series ending at 120: "paper_0007.png" (at least
// four digits, more when the last frame needs them).
QString seriesPath(const QString& chosen, qint64 frame, qint64 lastFrame);

struct SeriesResult {
    QStringList written;
    QString error;  // the first failure; the series stops there
};
// Renders and writes frames from..to (inclusive) as numbered PNGs;
// progress(done, total) returning false stops after the current frame.
SeriesResult exportSeries(const QString& chosen, qint64 from, qint64 to, const std::function<QImage(qint64)>& render,
                          const std::function<bool(qint64, qint64)>& progress = {});

} // namespace kestrune::frameview
