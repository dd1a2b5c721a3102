#pragma once
// Quality of a decoded YUV file against the original it was encoded from:
// the window's log block after Decode, the per-frame CSV beside the output,
// and the same numbers for the experiment runs.
#include "tools/quality/frame_loss_file.h"
#include "tools/quality/quality.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace kestrune {

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The last WIDTHxHEIGHT in a file name ("sample_176x144.yuv": 176x144).
std::optional<PictureSize> pictureSizeFromName(const QString& path);

// The original's size: the width and height fields when both are positive
// integers, else the size in its name.
std::optional<PictureSize> originalPictureSize(const QString& path, const QString& widthText, const QString& heightText);

struct QualityRequest {
    QString originalPath;
    QString widthText;      // the encoder's Input Width / Height as typed
    QString heightText;
    QString decodedPath;
    QString frameLossPath;  // the decoder's per-frame loss file; may be missing
};

struct QualityMeasurement {
    QString notMeasured;    // the one log line saying why, when nothing was measured
    PictureSize size;
    quality::Comparison comparison;
    std::vector<quality::FrameLossEntry> frameLoss; // per compared frame; empty when unknown
    int worstFrame = 0;     // 0-based, lowest Y-PSNR
    int identicalFrames = 0;  // frames whose Y-PSNR is the capped value
    int framesWithLoss = -1;  // -1 when the loss file was missing
    bool measured() const { return notMeasured.isEmpty(); }
};

// Compares the decoded file with the original frame by frame. The decoded
// picture size comes from the decoder's loss file; without one it is taken
// to be the original's when the decoded file holds whole frames of it.
QualityMeasurement measureQuality(const QualityRequest& request);

// The mean opinion score of a frame from its Y-PSNR: above 37 dB 5, 31 to
// 37 dB 4, 25 to 31 dB 3, 20 to 25 dB 2, below 20 dB 1. A value on a
// boundary takes the higher score, except 37 dB, which scores 4.
int opinionScore(double psnrY);
// Each frame's score, one digit per frame ("5543...").
QString opinionScoreDigits(const std::vector<quality::FrameQuality>& frames);

struct OpinionScores {
    double mean = 0;  // over the frames
    // The share (0..1) of the frames that score below the same frame of a
    // reference decode (the stream decoded without loss), over the frames
    // both have; none without a reference.
    std::optional<double> belowReference;
};
OpinionScores opinionScores(const std::vector<quality::FrameQuality>& frames, const QString& referenceDigits = {});

// The log block for a measurement (or its one line when nothing was measured).
QStringList qualityLogLines(const QualityMeasurement& m, const QString& originalPath, const QString& csvPath);

// frame,psnr_y,psnr_u,psnr_v,ssim_y,lost_macroblocks,concealed_macroblocks
// (the last two empty when the loss file was missing); CR LF lines.
QString qualityCsv(const QualityMeasurement& m);

// The decoded file's name with the extension .csv.
QString qualityCsvPath(const QString& decodedPath);

} // namespace kestrune
