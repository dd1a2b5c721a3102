#pragma once
// The decoder's command line and the step that puts its scratch output where
// the user asked.
#include <QString>

namespace kestrune {

// The decoder always writes here (relative to the start directory).
inline constexpr char16_t kDecoderScratchFile[] = u"tmp.yuv";

// I-frame concealment fragment for RadioGroup2 item 0..3 (empty otherwise).
QString iFrameConcealmentFragment(int item);
// P-frame concealment fragment for RadioGroup3 item 0..1 (empty otherwise).
QString pFrameConcealmentFragment(int item);

// "ffmpeg.exe" + I-frame fragment + P-frame fragment + " -i " + input +
// " -y tmp.yuv >fbatch.txt 2>&1". With sentPath (experiments, beyond the
// window's command line) " -sent " + sentPath before " -i ": the decoder then
// places every picture from the stream that went into the channel.
QString decodeCommand(int iFrameItem, int pFrameItem, const QString& inputPath, const QString& sentPath = {});

struct DecodedOutputResult {
    enum Kind {
        Placed,        // the new file is at the destination, no scratch file left
        NoNewOutput,   // the decoder wrote nothing; the destination is untouched
        MoveFailed,    // the new file stayed at the scratch path (see keptAt)
    } kind = Placed;
    QString keptAt;    // absolute scratch path when the move failed
    QString reason;    // the system's reason when the move failed
};

// Replaces destination with the scratch file. The previous destination is
// kept unless a new scratch file exists; a move between file systems copies
// and then deletes; if the move fails, the scratch file is kept.
DecodedOutputResult placeDecodedOutput(const QString& scratchPath, const QString& destination);

// Moves the decoder's per-frame loss file beside the placed output
// (destination.mbloss, kept for the frame viewer); one an earlier decode left
// there goes even when the decoder wrote none. Returns where the loss file now
// is (the scratch path when the move failed), empty when there is none.
QString placeFrameLossFile(const QString& scratchPath, const QString& destination);

// The plain message for an outcome other than Placed (empty for Placed).
QString decodedOutputMessage(const DecodedOutputResult& result, const QString& destination);

} // namespace kestrune
