#pragma once
// Where IDR pictures go: at most --keyint pictures apart, and at a scene
// change (a picture that the previous one hardly predicts) once --min-keyint
// pictures have passed since the last IDR. A scene change sooner than that
// becomes an I picture that is not an IDR.
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/baseline_encoder/picture_analysis.h"

namespace kestrune::codec {

enum class PictureType { Idr, Intra, Predicted };

// The minimum IDR spacing in force: --min-keyint, or when 0 a tenth of
// --keyint (at most one second); never above keyint / 2 + 1.
int effectiveMinKeyint(const EncoderSettings& settings);

// A scene change: the inter cost comes within scenecut percent of the intra
// cost (scenecut 40: inter above 60 % of intra). scenecut 0 never fires.
bool isSceneChange(const PictureCost& cost, int scenecut);

class PictureTypeDecision {
public:
    explicit PictureTypeDecision(const EncoderSettings& settings);
    // For the next picture in coding order; the first is always an IDR.
    PictureType next(const PictureCost& cost);
    int scenesDetected() const { return scenes_; }

private:
    int keyint_;
    int minKeyint_;
    int scenecut_;
    long sinceIdr_ = -1;  // pictures since the last IDR; -1 before the first
    int scenes_ = 0;
};

} // namespace kestrune::codec
