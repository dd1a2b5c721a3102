#include "runner/encode_command.h"

#include "runner/command_line.h"
#include "runner/command_path.h"

#include <QSet>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using kestrune::buildEncodeCommand;
using kestrune::commandLinePath;
using kestrune::EncodeSettings;

namespace {

// Prints QStrings readably in failure messages.
std::string str(const QString& s) { return s.toStdString(); }

struct Files {
    QSet<QString> present{u"x264.exe"_s, u"foreman.yuv"_s};
    bool operator()(const QString& path) const { return present.contains(path); }
};

EncodeSettings foreman()
{
    EncodeSettings s;
    s.inputPath = u"foreman.yuv"_s;
    s.outputPath = u"out.264"_s;
    s.width = u"176"_s;
    s.height = u"144"_s;
    return s;
}

QString line(const EncodeSettings& s, const Files& files = {})
{
    auto result = buildEncodeCommand(s, files);
    EXPECT_TRUE(result.ok()) << str(result.message);
    return result.commandLine;
}

QString message(const EncodeSettings& s, const Files& files = {})
{
    auto result = buildEncodeCommand(s, files);
    EXPECT_FALSE(result.ok()) << str(result.commandLine);
    EXPECT_TRUE(result.commandLine.isEmpty());
    return result.message;
}

} // namespace

TEST(EncodeCommand, DefaultsGiveTheDesignedLineByteForByte)
{
    EXPECT_EQ(str(line(foreman())),
              "x264 --bitrate 500 --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --slices 1"
              " --me \"hex\" --ref 1 --mixed-refs --merange 16 --partitions \"i8x8\"\"i4x4\"\"p8x8\""
              " foreman.yuv -o out.264 176x144 >xbatch.txt 2>&1");
}

// Every check fails at first; fixing them one by one must reveal the
// messages in exactly the designed order, ending in a good command.
TEST(EncodeCommand, ChecksReportTheFirstFailureInOrder)
{
    EncodeSettings s;
    s.inputPath = u"clip.yuv"_s;
    s.outputPath.clear();
    s.bitrate = u"500k"_s;
    s.minGopSize.clear();
    s.maxGopSize = u"2.5"_s;
    s.scenecut = u"40 "_s;              // a trailing blank is no integer
    s.frameRate = u"2,5"_s;
    s.frames = u"all"_s;
    s.sliceCountEnabled = false;        // variable-length slices
    s.sliceCount = u"junk"_s;           // disabled, so never checked
    s.maxSliceSizeEnabled = true;
    s.maxSliceSize = u"-"_s;
    s.referenceFrames = u"one"_s;
    s.searchRange = u"0x"_s;
    s.width = u"w"_s;
    s.height = u"h"_s;
    Files files;
    files.present = {};

    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"Error: x264.exe not found!", [&] { files.present.insert(u"x264.exe"_s); }},
        {"Encoder Error! Input YUV File (clip.yuv) not found!", [&] { files.present.insert(u"clip.yuv"_s); }},
        {"Encoder Error! Please specify an (H.264) output file!", [&] { s.outputPath = u"o.264"_s; }},
        {"Encoder Error! Please specify an average bitrate!", [&] { s.bitrate = u"300"_s; }},
        {"Encoder Error: Please enter a correct Min GOP Size!", [&] { s.minGopSize = u"0"_s; }},
        {"Encoder Error: Please enter a correct Max GOP Size!", [&] { s.maxGopSize = u"$FA"_s; }},
        {"Encoder Error: Please enter a correct scenecut threshold!", [&] { s.scenecut = u" 40"_s; }},
        {"Encoder Error: Please enter a correct frame rate!", [&] { s.frameRate = u"+30"_s; }},
        {"Encoder Error: Please enter the number of frames to be encoded (default is All)!",
         [&] { s.frames = u"100"_s; }},
        {"Encoder Error: Please enter the maximum slice size!", [&] { s.maxSliceSize = u"1200"_s; }},
        {"Encoder Error: Please enter the number of reference frames (min=1, max=16)!",
         [&] { s.referenceFrames = u"2"_s; }},
        {"Encoder Error: Please enter the maximum motion vector search range (default=16)!",
         [&] { s.searchRange = u"32"_s; }},
        {"Encoder Error: Input Width/Height is incorrect!", [&] { s.width = u"352"_s; }},
        {"Encoder Error: Input Width/Height is incorrect!", [&] { s.height = u"288"_s; }},
    };
    for (const auto& [expected, fix] : steps) {
        EXPECT_EQ(str(message(s, files)), expected);
        fix();
    }
    // Values go in as typed: " 40" keeps its blank, "$FA" its hex form.
    EXPECT_EQ(str(line(s, files)),
              "x264 --bitrate 300 --min-keyint 0 --keyint $FA --scenecut  40 --fps +30 --frames 100"
              " --max-slicesize 1200 --me \"hex\" --ref 2 --mixed-refs --merange 32"
              " --partitions \"i8x8\"\"i4x4\"\"p8x8\" clip.yuv -o o.264 352x288 >xbatch.txt 2>&1");
}

TEST(EncodeCommand, InputIsCheckedBeforeTheOutputAndAnEmptyInputIsMissing)
{
    EncodeSettings s = foreman();
    s.inputPath.clear();
    s.outputPath.clear();
    QStringList asked;
    auto result = buildEncodeCommand(s, [&](const QString& p) { asked << p; return p == u"x264.exe"_s; });
    EXPECT_EQ(str(result.message), "Encoder Error! Input YUV File () not found!");
    EXPECT_EQ(asked, (QStringList{u"x264.exe"_s, QString()}));
}

TEST(EncodeCommand, QuantizerModesUseTheTrackBarAndIgnoreTheBitrateField)
{
    EncodeSettings s = foreman();
    s.bitrate = u"not a number"_s;
    s.quantizer = 30;
    s.rateControlMode = 2;
    EXPECT_TRUE(line(s).startsWith(u"x264 --qp 30 --min-keyint 25"_s));
    s.rateControlMode = 3;
    EXPECT_TRUE(line(s).startsWith(u"x264 --crf 30 --min-keyint 25"_s));
    s.rateControlMode = 0; // no such mode: no rate-control fragment at all
    EXPECT_TRUE(line(s).startsWith(u"x264 --min-keyint 25"_s));
    s.rateControlMode = 1;
    EXPECT_EQ(str(message(s)), "Encoder Error! Please specify an average bitrate!");
}

TEST(EncodeCommand, FramesFieldAllIsCaseSensitive)
{
    EncodeSettings s = foreman();
    EXPECT_FALSE(line(s).contains(u"--frames"_s));
    s.frames = u"all"_s;
    EXPECT_EQ(str(message(s)),
              "Encoder Error: Please enter the number of frames to be encoded (default is All)!");
    s.frames = u"ALL"_s;
    EXPECT_FALSE(buildEncodeCommand(s, Files{}).ok());
    s.frames = u"300"_s;
    EXPECT_TRUE(line(s).contains(u" --fps 25 --frames 300 --slices 1"_s));
}

TEST(EncodeCommand, SliceFragmentsFollowEnabledStatesAndFmo)
{
    struct Case {
        bool fixedEnabled, variableEnabled, fmo;
        const char* expected; // the slice part between " --fps 25" and " --me"
    };
    const Case cases[] = {
        {true, false, false, " --slices 1"},
        {false, true, false, " --max-slicesize 1500"},
        {false, false, false, ""},
        {true, true, false, " --slices 1 --max-slicesize 1500"},
        {true, false, true, " --slice-groups 2"},
        {false, true, true, " --slice-groups 2"},
    };
    for (const Case& c : cases) {
        EncodeSettings s = foreman();
        s.sliceCountEnabled = c.fixedEnabled;
        s.maxSliceSizeEnabled = c.variableEnabled;
        s.useFmo = c.fmo;
        QString cmd = line(s);
        qsizetype from = cmd.indexOf(u" --fps 25"_s) + 9, to = cmd.indexOf(u" --me "_s);
        EXPECT_EQ(str(cmd.mid(from, to - from)), c.expected)
            << c.fixedEnabled << c.variableEnabled << c.fmo;
    }
}

TEST(EncodeCommand, FmoChecksOnlyTheSliceGroupField)
{
    EncodeSettings s = foreman();
    s.useFmo = true;
    s.sliceCount = u"bad"_s;
    s.maxSliceSizeEnabled = true;
    s.maxSliceSize = u"bad"_s;
    s.sliceGroups = u"4"_s;
    EXPECT_TRUE(line(s).contains(u" --fps 25 --slice-groups 4 --me"_s));
    s.sliceGroups = u""_s;
    EXPECT_EQ(str(message(s)), "Encoder Error: Please enter the number of slice groups!");
    s.useFmo = false;
    EXPECT_EQ(str(message(s)), "Encoder Error: Please enter the number of raster scan slices!");
}

TEST(EncodeCommand, PartitionLists)
{
    auto partitions = [](bool i8, bool i4, bool p8, bool p4) {
        EncodeSettings s = foreman();
        s.i8x8 = i8, s.i4x4 = i4, s.p8x8 = p8, s.p4x4 = p4;
        QString cmd = line(s);
        qsizetype from = cmd.indexOf(u" --partitions "_s), to = cmd.indexOf(u" foreman.yuv"_s);
        return str(cmd.mid(from, to - from));
    };
    EXPECT_EQ(partitions(true, true, true, true), " --partitions all");
    EXPECT_EQ(partitions(false, false, false, false), " --partitions none");
    EXPECT_EQ(partitions(true, false, true, false), " --partitions \"i8x8\"\"p8x8\"");
    EXPECT_EQ(partitions(false, true, false, true), " --partitions \"i4x4\"\"p4x4\"");
    EXPECT_EQ(partitions(false, false, false, true), " --partitions \"p4x4\"");
}

TEST(EncodeCommand, SwitchesForPsnrChromaAndSearchMethod)
{
    EncodeSettings s = foreman();
    s.computePsnr = false;
    s.chromaMotionEstimation = false;
    s.motionSearch = 2;
    EXPECT_TRUE(line(s).contains(u" --fps 25 --no-psnr --no-ssim --slices 1 --me \"umh\" --no-chroma-me --ref 1"_s));
    s.motionSearch = 0;
    EXPECT_TRUE(line(s).contains(u" --slices 1 --me \"dia\" --no-chroma-me"_s));
    s.motionSearch = -1; // nothing chosen in the radio group
    EXPECT_TRUE(line(s).contains(u" --slices 1 --no-chroma-me"_s));
}

TEST(EncodeCommand, PathsWithBlanksOrInterpreterCharactersAreQuoted)
{
    EncodeSettings s = foreman();
    s.inputPath = u"/data/my clips/foreman.yuv"_s;
    s.outputPath = u"a&b.264"_s;
    Files files;
    files.present.insert(s.inputPath);
    EXPECT_TRUE(line(s, files).endsWith(
        u" \"/data/my clips/foreman.yuv\" -o \"a&b.264\" 176x144 >xbatch.txt 2>&1"_s));
    // The message names the path as typed.
    files.present.remove(s.inputPath);
    EXPECT_EQ(str(message(s, files)), "Encoder Error! Input YUV File (/data/my clips/foreman.yuv) not found!");

    EXPECT_EQ(commandLinePath(u"C:\\video\\in.yuv"_s), u"C:\\video\\in.yuv"_s);
    EXPECT_EQ(commandLinePath(u"../x-y_z.264"_s), u"../x-y_z.264"_s);
    for (const QString& p : {u"a>b"_s, u"a<b"_s, u"a|b"_s, u"tab\there"_s})
        EXPECT_EQ(commandLinePath(p), u'"' + p + u'"');
    // C runtime rules: an embedded quote is escaped, and backslashes before
    // a quote (embedded or closing) are doubled.
    EXPECT_EQ(str(commandLinePath(u"say \"hi\".yuv"_s)), "\"say \\\"hi\\\".yuv\"");
    EXPECT_EQ(str(commandLinePath(u"C:\\my dir\\"_s)), "\"C:\\my dir\\\\\"");
    EXPECT_EQ(str(commandLinePath(u"x\\\"y"_s)), "\"x\\\\\\\"y\"");
}

// What the interpreter hands the encoder: each path arrives as one argument,
// unchanged, and nothing in a path becomes a redirection.
TEST(EncodeCommand, AwkwardPathsReachTheEncoderAsSingleArguments)
{
    const QString paths[] = {u"my clip.yuv"_s, u"a&b>c.yuv"_s, u"x<y|z.yuv"_s, u"say \"hi\".yuv"_s,
                             u"C:\\my dir\\"_s, u"back\\\"slash q"_s, u"q\"> r.yuv"_s,
                             u"plain/dir/in.yuv"_s};
    for (const QString& path : paths) {
        EncodeSettings s = foreman();
        s.inputPath = path;
        s.outputPath = path + u".264"_s;
        Files files;
        files.present.insert(path);
        const kestrune::CommandLine parsed = kestrune::parseCommandLine(line(s, files));
        ASSERT_TRUE(parsed.error.isEmpty()) << str(parsed.error);
        EXPECT_EQ(str(parsed.program), "x264");
        const QStringList& args = parsed.arguments;
        ASSERT_GE(args.size(), 4);
        EXPECT_EQ(args.mid(args.size() - 4),
                  (QStringList{path, u"-o"_s, path + u".264"_s, u"176x144"_s})) << str(path);
        ASSERT_EQ(parsed.redirections.size(), 2u) << str(path);
        EXPECT_EQ(str(parsed.redirections[0].file), "xbatch.txt");
        EXPECT_EQ(parsed.redirections[1].kind, kestrune::Redirection::Duplicate);
    }
}
