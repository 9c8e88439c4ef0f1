#pragma once

#include "AppContext.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A shell that records what would have been opened instead of starting programs.
class RecordingShell : public ShellOpener
{
public:
    void open(const QString& target) override { opened << target; }
    QStringList opened;
};

// The desktop a test chooses (a null one until it does).
class StandInDesktop : public DesktopPlatform
{
public:
    DesktopPlatform* target = &m_null;

    QString name() const override { return target->name(); }
    bool canSampleScreen() const override { return target->canSampleScreen(); }
    std::optional<QPoint> pointerPosition() override { return target->pointerPosition(); }
    bool leftButtonDown() override { return target->leftButtonDown(); }
    bool escapeDown() override { return target->escapeDown(); }
    std::optional<QRgb> pixelAt(QPoint p) override { return target->pixelAt(p); }
    bool canPickColor() const override { return target->canPickColor(); }
    void pickColor(ColorPicked done) override { target->pickColor(std::move(done)); }
    void minimizeOtherWindows() override { target->minimizeOtherWindows(); }
    std::optional<QString> topmostWindowCaption(const QStringList& classes) override
    {
        return target->topmostWindowCaption(classes);
    }
    int closeWindows(const QStringList& classes) override { return target->closeWindows(classes); }

private:
    NullDesktop m_null;
};

// A test whose windows share an application context in a temporary folder: the program folder
// tmp/app, the collection tmp/coll (not made), Favorites tmp/home/Favorites; prompts scripted,
// shell opens recorded, the desktop a stand-in.
class ContextTest : public ::testing::Test
{
protected:
    ContextTest()
        : m_context(Paths{tmp.filePath("app") + "/", tmp.filePath("home/Favorites") + "/",
                          tmp.filePath("coll") + "/"},
                    standInDesktop, shell)
    {
        QDir().mkpath(tmp.filePath("app"));
        m_context.prompts().setScripted(true);
    }

    // Copies the shipped English language file into the program folder and makes it current.
    void useEnglish()
    {
        QFile::copy(QStringLiteral(NIMBRIL_SOURCE_DIR "/lang/English.LAG"),
                    paths().programDir + "English.LAG");
        language().setLanguage(QStringLiteral("English"));
    }

    AppContext& context() { return m_context; }
    Paths& paths() { return m_context.paths(); }
    const Paths& paths() const { return m_context.paths(); }
    Prompts& prompts() { return m_context.prompts(); }
    LanguageCatalogue& language() { return m_context.language(); }
    const LanguageCatalogue& language() const { return m_context.language(); }
    QStringList opened() const { return shell.opened; }

    QTemporaryDir tmp;
    RecordingShell shell;
    StandInDesktop standInDesktop;

private:
    AppContext m_context;
};
