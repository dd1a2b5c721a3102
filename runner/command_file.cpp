#include "runner/command_file.h"

#include "runner/text_file.h"

namespace kestrune {

void writeCommandFile(const QString& fileName, const QString& commandText)
{
    writeTextLines(fileName, {commandText});
}

} // namespace kestrune
