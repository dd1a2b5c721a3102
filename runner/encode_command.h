#pragma once
// Builds the encoder's command line from the encoder pages' settings. Pure:
// no widgets, and the only file-system question goes through a predicate.
#include <QString>
#include <functional>

namespace kestrune {

// The encoder pages as plain values; the defaults are the window's defaults.
struct EncodeSettings {
    int rateControlMode = 1;            // 1 bitrate, 2 quantizer, 3 rate factor
    QString bitrate = QStringLiteral("500");          // Edit1
    int quantizer = 26;                               // TrackBar1 position
    QString minGopSize = QStringLiteral("25");        // Edit5
    QString maxGopSize = QStringLiteral("250");       // Edit6
    QString scenecut = QStringLiteral("40");          // Edit7
    QString frameRate = QStringLiteral("25");         // Edit13
    QString frames = QStringLiteral("All");           // Edit14
    bool computePsnr = true;                          // CheckBox7
    bool sliceCountEnabled = true;                    // Edit8 enabled
    QString sliceCount = QStringLiteral("1");         // Edit8
    bool maxSliceSizeEnabled = false;                 // Edit9 enabled
    QString maxSliceSize = QStringLiteral("1500");    // Edit9
    bool useFmo = false;                              // CheckBox6
    QString sliceGroups = QStringLiteral("2");        // Edit10
    int motionSearch = 1;                             // RadioGroup1 item index
    bool chromaMotionEstimation = true;               // CheckBox1
    QString referenceFrames = QStringLiteral("1");    // Edit3
    QString searchRange = QStringLiteral("16");       // Edit4
    bool i8x8 = true;                                 // CheckBox2..CheckBox5
    bool i4x4 = true;
    bool p8x8 = true;
    bool p4x4 = false;
    QString inputPath;                                // LabeledEdit1
    QString outputPath;                               // LabeledEdit2
    QString width;                                    // LabeledEdit5
    QString height;                                   // LabeledEdit7
};

// Either the command line or the message of the first check that failed.
struct EncodeCommand {
    QString commandLine;
    QString message;
    bool ok() const { return message.isEmpty(); }
};

// Runs the checks in their fixed order (encoder present, input present,
// output named, then each field as its fragment is appended). fileExists is
// asked about "x264.exe" and the input path, relative to the current
// directory.
EncodeCommand buildEncodeCommand(const EncodeSettings& settings,
                                 const std::function<bool(const QString&)>& fileExists);

// The rate-control mode an encoding-mode text selects (exact, case-sensitive
// match of an item), or 0 for a text that matches no item.
int rateControlModeOf(const QString& encodingModeText);

} // namespace kestrune
