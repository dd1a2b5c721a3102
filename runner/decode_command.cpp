#include "runner/decode_command.h"

#include "runner/command_path.h"
#include "tools/quality/frame_loss_file.h"

#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;
namespace fs = std::filesystem;

namespace kestrune {

QString iFrameConcealmentFragment(int item)
{
    switch (item) {
    case 0: return u" -ec 0 -error_concealment 0"_s;
    case 1: return u" -error_concealment 1"_s;
    case 2: return u" -error_concealment 2"_s;
    case 3: return u" -error_concealment 3"_s;
    default: return {};
    }
}

QString pFrameConcealmentFragment(int item)
{
    // Item 1, boundary matching, is the decoder's default and needs no option.
    return item == 0 ? u" -P_error_concealment 0"_s : QString();
}

QString decodeCommand(int iFrameItem, int pFrameItem, const QString& inputPath, const QString& sentPath)
{
    const QString sent = sentPath.isEmpty() ? QString() : u" -sent "_s + commandLinePath(sentPath);
    return u"ffmpeg.exe"_s + iFrameConcealmentFragment(iFrameItem) + pFrameConcealmentFragment(pFrameItem) + sent
        + u" -i "_s + commandLinePath(inputPath) + u" -y "_s + QString::fromUtf16(kDecoderScratchFile)
        + u" >fbatch.txt 2>&1"_s;
}

namespace {

fs::path toPath(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

DecodedOutputResult moveFailed(const QString& scratchPath, const std::error_code& ec)
{
    DecodedOutputResult result;
    result.kind = DecodedOutputResult::MoveFailed;
    result.keptAt = QFileInfo(scratchPath).absoluteFilePath();
    result.reason = QString::fromLocal8Bit(ec.message());
    return result;
}

// Copies beside the destination first so the destination is only ever
// replaced by a complete file.
bool copyAcross(const fs::path& scratch, const fs::path& destination, std::error_code& ec)
{
    fs::path partial = destination;
    partial += ".partial";
    fs::copy_file(scratch, partial, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(partial, destination, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return false;
    }
    fs::remove(scratch, ec);
    ec.clear(); // the decoded file is in place; a stale scratch copy is harmless
    return true;
}

} // namespace

DecodedOutputResult placeDecodedOutput(const QString& scratchPath, const QString& destination)
{
    const fs::path scratch = toPath(scratchPath);
    const fs::path target = toPath(destination);
    std::error_code ec;
    if (!fs::is_regular_file(scratch, ec)) return {DecodedOutputResult::NoNewOutput, {}, {}};
    if (fs::exists(target, ec) && fs::equivalent(scratch, target, ec)) return {};

    fs::rename(scratch, target, ec);
    if (!ec) return {};
    if (ec == std::errc::cross_device_link && copyAcross(scratch, target, ec)) return {};
    return moveFailed(scratchPath, ec);
}

QString placeFrameLossFile(const QString& scratchPath, const QString& destination)
{
    const QString from = QString::fromStdString(quality::frameLossPath(scratchPath.toStdString()));
    const QString to = QString::fromStdString(quality::frameLossPath(destination.toStdString()));
    if (QFileInfo(from) != QFileInfo(to)) QFile::remove(to);
    switch (placeDecodedOutput(from, to).kind) {
    case DecodedOutputResult::Placed: return QFile::exists(to) ? to : QString();
    case DecodedOutputResult::NoNewOutput: return {};
    case DecodedOutputResult::MoveFailed: return from;
    }
    return {};
}

QString decodedOutputMessage(const DecodedOutputResult& result, const QString& destination)
{
    switch (result.kind) {
    case DecodedOutputResult::Placed:
        return {};
    case DecodedOutputResult::NoNewOutput:
        return u"Decoder Error: The decoder wrote no output; (%1) is unchanged!"_s.arg(destination);
    case DecodedOutputResult::MoveFailed:
        return u"Decoder Error: The decoded file could not be moved to (%1): %2. It is kept as %3"_s.arg(
            destination, result.reason, result.keptAt);
    }
    return {};
}

} // namespace kestrune
