#pragma once
// A fixture that makes a fresh temporary directory current for each test
// (the runner works relative to the current directory) and puts the fake
// tool there as "faketool.exe".
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrune::testing {

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
    }
    void TearDown() override { QDir::setCurrent(previous); }

    QString path(const QString& name) const { return dir.filePath(name); }
    QByteArray contents(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    void installTool(const QString& name = QStringLiteral("faketool.exe")) const
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRUNE_FAKE_TOOL), path(name)));
    }

    QTemporaryDir dir;
    QString previous;
};

} // namespace kestrune::testing
