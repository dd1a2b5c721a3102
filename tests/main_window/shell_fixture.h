#pragma once
// A fresh temporary start directory made current for each test, with a main
// window created in it (so its start directory is that folder).
#include "main_window/tform1.h"
#include "tests/support/recording_prompts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
    }
    void TearDown() override
    {
        form.reset();
        QDir::setCurrent(previous);
    }

    TForm1& window()
    {
        if (!form) form = std::make_unique<TForm1>(prompts);
        return *form;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    void write(const QString& name, const QByteArray& bytes, bool executable = false) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        if (executable) file.setPermissions(file.permissions() | QFile::ExeOwner);
    }
    bool exists(const QString& name) const { return QFile::exists(path(name)); }

    QTemporaryDir dir;
    QString previous;
    kestrune::testing::RecordingPrompts prompts;
    std::unique_ptr<TForm1> form;
};
