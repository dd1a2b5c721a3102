#pragma once
// The per-frame Y-PSNR of the last decodes, for the quality plot window.
#include <QString>
#include <deque>
#include <vector>

struct DecodedQuality {
    QString outputName;     // file name of the decoded output
    QString concealment;    // the concealment pair, e.g. "Bilinear + BMA"
    QString lossRate;       // channel loss rate in percent as typed; empty when unknown
    std::vector<double> psnrY;
    std::vector<bool> lost; // frame held lost macroblocks (empty when unknown)
    QString decodedPath;    // absolute paths and the original's size, for the frame viewer
    QString originalPath;
    int width = 0;
    int height = 0;

    // "lossy_176x144.yuv, Bilinear + BMA, 5 % loss"
    QString label() const;
};

class QualityHistory {
public:
    static constexpr std::size_t kMaxDecodes = 8;
    // Adds a decode; the oldest one goes once there are more than eight.
    void add(DecodedQuality decode);
    const std::deque<DecodedQuality>& decodes() const { return decodes_; }

    // One row per frame: "frame" and one Y-PSNR column per decode (labelled),
    // empty where a decode has fewer frames; CR LF lines.
    QString csv() const;

private:
    std::deque<DecodedQuality> decodes_;
};
