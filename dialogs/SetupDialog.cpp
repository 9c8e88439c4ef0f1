#include "SetupDialog.h"

#include "AppContext.h"
#include "Errors.h"
#include "FormFace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

// ---- shell entries -------------------------------------------------------------------------

const QString SetupShell::ToolButtonKey = QStringLiteral(
    "\\SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\{5E0C3A71-6B2D-4C98-A1F4-2D7B9E60C835}");
const QString SetupShell::ToolButtonClsid =
    QStringLiteral("{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}");
const QString SetupShell::RunKey =
    QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\");
const QString SetupShell::RunValueName = QStringLiteral("NimbrilApp");

SetupShell::SetupShell(const SetupPlaces& places) : m_places(places) {}

QString SetupShell::Executable() const
{
    return m_places.executable.isEmpty() ? QCoreApplication::applicationFilePath()
                                         : m_places.executable;
}

Registry SetupShell::registry() const
{
    return Registry(m_places.registryFile);
}

AutostartEntry SetupShell::autostart() const
{
    return AutostartEntry(m_places.autostartFolder);
}

CaptureLauncher SetupShell::launcher() const
{
    return CaptureLauncher(m_places.launcherFolder);
}

SetupShell::RunOptions SetupShell::ReadRunOptions() const
{
    RunOptions options;
    const Registry reg = registry();
    RegistryKey run = reg.OpenKey(RunKey, false);
    if (run.isOpen()) {
        options.startupValue = !run.ReadString(RunValueName).isEmpty();
        run.Close();
    }
    options.autostartEntry = autostart().StartsProgram(Executable());
    // Only the key's existence counts, not its values.
    RegistryKey button = reg.OpenKey(ToolButtonKey, false);
    options.toolButton = button.isOpen();
    button.Close();
    return options;
}

void SetupShell::AddToolButton(const QString& buttonText, const QString& launcherName,
                               const QList<LauncherAction>& actions) const
{
    const QString icon = m_places.programDir + QStringLiteral("nb.ico");
    if (!QFileInfo(icon).isFile())
        return;
    RegistryKey key = registry().OpenKey(ToolButtonKey, true);
    if (!key.isOpen())
        return;
    key.WriteString(QStringLiteral("ButtonText"), buttonText);
    key.WriteString(QStringLiteral("CLSID"), ToolButtonClsid);
    key.WriteString(QStringLiteral("Default Visible"), QStringLiteral("yes"));
    key.WriteString(QStringLiteral("Exec"), DoubleBackslashes(Executable()));
    key.WriteString(QStringLiteral("HotIcon"), DoubleBackslashes(icon));
    key.WriteString(QStringLiteral("Icon"), DoubleBackslashes(icon));
    key.Close();
    if (!actions.isEmpty())
        launcher().Install(QFileInfo(Executable()).absolutePath() +
                               QStringLiteral("/nimbril-capture"),
                           launcherName, actions);
}

void SetupShell::RemoveToolButton() const
{
    registry().DeleteKey(ToolButtonKey);
    launcher().Remove();
}

void SetupShell::AddAutoRun() const
{
    RegistryKey run = registry().OpenKey(RunKey, false);
    if (run.isOpen()) {
        run.WriteString(RunValueName, Executable());
        run.Close();
    }
    // The entry is the user's own and lives outside the program folder, so a program folder
    // the user cannot write to does not keep it from being written.
    autostart().Enable(Executable());
}

void SetupShell::RemoveAutoRun() const
{
    RegistryKey run = registry().OpenKey(RunKey, false);
    if (run.isOpen()) {
        run.DeleteValue(RunValueName);
        run.Close();
    }
    autostart().Disable();
}

QString DoubleBackslashes(const QString& text)
{
    QString doubled = text;
    doubled.replace(u'\\', QStringLiteral("\\\\"));
    return doubled;
}

// ---- the dialog ----------------------------------------------------------------------------

namespace {

// Shown while the language files have no text for it (an older language file).
const QString kKeepScriptsCaption =
    QStringLiteral("Let saved pages run their scripts again when opened");

// The places of the program's own folder fill those a test left empty.
SetupPlaces InProgramFolder(SetupPlaces places, const QString& programDir)
{
    if (places.programDir.isEmpty())
        places.programDir = programDir;
    if (places.registryFile.isEmpty())
        places.registryFile = Registry::FileIn(places.programDir);
    return places;
}

} // namespace

SetupDialog::SetupDialog(AppContext& context, QWidget* parent, const SetupPlaces& places)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_context(context), m_shell(InProgramFolder(places, context.paths().programDir))
{
    setObjectName(QStringLiteral("Form_Setup"));
    setWindowTitle(QStringLiteral("Setup"));
    setFixedSize(258, 289);
    PaintFormFace(this);

    gb_Language = new QGroupBox(QStringLiteral("Language"), this);
    lbl_SelectLanguage = new QLabel(QStringLiteral("&Select Language"), gb_Language);
    cb_Language = new QComboBox(gb_Language);
    cb_Language->setEditable(false);
    cb_Language->setInsertPolicy(QComboBox::NoInsert);
    lbl_SelectLanguage->setBuddy(cb_Language);
    auto* languageBox = new QVBoxLayout(gb_Language);
    languageBox->addWidget(lbl_SelectLanguage);
    languageBox->addWidget(cb_Language);

    gb_RunOptions = new QGroupBox(QStringLiteral("&Run options"), this);
    chk_AddToolButton = new QCheckBox(
        QStringLiteral("Add capture commands to the desktop launcher"), gb_RunOptions);
    chk_AutoRun = new QCheckBox(QStringLiteral("Auto run on system start"), gb_RunOptions);
    auto* optionsBox = new QVBoxLayout(gb_RunOptions);
    optionsBox->addWidget(chk_AddToolButton);
    optionsBox->addWidget(chk_AutoRun);
    // No language file has a text for it: it stays in English.
    chk_ClassicPages = new QCheckBox(
        QStringLiteral("Save pages the classic way (without what style sheets, srcsets and "
                       "media name)"),
        gb_RunOptions);
    optionsBox->addWidget(chk_ClassicPages);
    chk_KeepScripts = new QCheckBox(kKeepScriptsCaption, gb_RunOptions);
    optionsBox->addWidget(chk_KeepScripts);

    btn_OK = new QPushButton(QStringLiteral("&OK"), this);
    btn_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    btn_OK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btn_OK);
    buttons->addWidget(btn_Cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gb_Language);
    layout->addWidget(gb_RunOptions);
    layout->addStretch();
    layout->addLayout(buttons);

    gb_Language->setObjectName(QStringLiteral("gb_Language"));
    lbl_SelectLanguage->setObjectName(QStringLiteral("lbl_SelectLanguage"));
    cb_Language->setObjectName(QStringLiteral("cb_Language"));
    gb_RunOptions->setObjectName(QStringLiteral("gb_RunOptions"));
    chk_AddToolButton->setObjectName(QStringLiteral("chk_AddToolButton"));
    chk_AutoRun->setObjectName(QStringLiteral("chk_AutoRun"));
    chk_ClassicPages->setObjectName(QStringLiteral("chk_ClassicPages"));
    chk_KeepScripts->setObjectName(QStringLiteral("chk_KeepScripts"));
    btn_OK->setObjectName(QStringLiteral("btn_OK"));
    btn_Cancel->setObjectName(QStringLiteral("btn_Cancel"));

    // Only a pick by the user changes the language; FormShow's own selection does not.
    connect(cb_Language, &QComboBox::activated, this, [this] { LanguageListChange(); });
    connect(btn_OK, &QPushButton::clicked, this, [this] { btn_OKClick(); });
    connect(btn_Cancel, &QPushButton::clicked, this, [this] { reject(); });
}

int SetupDialog::ShowModalSetup()
{
    // The tray menu stays usable while the dialog is open; a second Setup brings it forward.
    if (isVisible()) {
        raise();
        activateWindow();
        return QDialog::Rejected;
    }
    return exec();
}

void SetupDialog::showEvent(QShowEvent* event)
{
    // A window restored by the window system is no new showing.
    if (!event->spontaneous()) {
        if (const QScreen* s = screen())
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
        FormShow();
    }
    QDialog::showEvent(event);
}

void SetupDialog::FormShow()
{
    FillLanguageList();
    QStringList entries;
    for (int i = 0; i < cb_Language->count(); ++i)
        entries << cb_Language->itemText(i);
    cb_Language->setCurrentIndex(LanguageListSelection(entries, m_context.settings().language()));
    ApplyLanguage();
    m_savedLanguage = m_context.language().language();
    ReadRunOptions();
    chk_ClassicPages->setChecked(m_context.settings().classicPages());
    chk_KeepScripts->setChecked(m_context.settings().keepScripts());
}

void SetupDialog::FillLanguageList()
{
    cb_Language->clear();
    cb_Language->addItems(m_context.language().languages());
}

void SetupDialog::ApplyLanguage()
{
    setWindowTitle(m_context.language().text(QStringLiteral("Form_Setup.Caption")));
    gb_Language->setTitle(
        m_context.language().text(QStringLiteral("Form_Setup.gb_Language.Caption")));
    lbl_SelectLanguage->setText(
        m_context.language().text(QStringLiteral("Form_Setup.lbl_SelectLanguage.Caption")));
    gb_RunOptions->setTitle(
        m_context.language().text(QStringLiteral("Form_Setup.gb_RunOptions.Caption")));
    chk_AddToolButton->setText(
        m_context.language().text(QStringLiteral("Form_Setup.chk_AddToolButton.Caption")));
    chk_AutoRun->setText(
        m_context.language().text(QStringLiteral("Form_Setup.chk_AutoRun.Caption")));
    chk_ClassicPages->setText(m_context.language().text(
        QStringLiteral("Form_Setup.chk_ClassicPages.Caption"),
        QStringLiteral("Save pages the classic way (without what style sheets, srcsets and media "
                       "name)")));
    chk_KeepScripts->setText(m_context.language().text(
        QStringLiteral("Form_Setup.chk_KeepScripts.Caption"), kKeepScriptsCaption));
    btn_OK->setText(m_context.language().text(QStringLiteral("btn_OK.Caption")));
    btn_Cancel->setText(m_context.language().text(QStringLiteral("btn_Cancel.Caption")));

    const QFont font = m_context.language().font();
    gb_Language->setFont(font);
    lbl_SelectLanguage->setFont(font);
}

void SetupDialog::ReadRunOptions()
{
    const SetupShell::RunOptions options = m_shell.ReadRunOptions();
    chk_AutoRun->setChecked(options.autoRun());
    chk_AddToolButton->setChecked(options.toolButton);
}

void SetupDialog::LanguageListChange()
{
    if (cb_Language->currentIndex() < 0)
        return;
    m_context.language().setLanguage(cb_Language->currentText());
    ApplyLanguage();
    if (const QString notice = m_context.language().conversionNotice(); !notice.isEmpty())
        m_context.prompts().warning(this, notice);
}

void SetupDialog::btn_OKClick()
{
    if (chk_AddToolButton->isChecked())
        AddToolButton();
    else
        RemoveToolButton();
    if (chk_AutoRun->isChecked())
        AddAutoRun();
    else
        RemoveAutoRun();
    accept();
}

void SetupDialog::done(int result)
{
    FormClose(result);
    QDialog::done(result);
}

void SetupDialog::FormClose(int result)
{
    if (result != QDialog::Accepted) {
        m_context.language().setLanguage(m_savedLanguage);
        return;
    }
    // The dialog runs its own event loop, which no error may leave: the error display is shown
    // here, and the dialog still closes with the language in force.
    try {
        m_context.settings().setLanguage(m_context.language().language());
        if (chk_ClassicPages->isChecked() != m_context.settings().classicPages())
            m_context.settings().setClassicPages(chk_ClassicPages->isChecked());
        if (chk_KeepScripts->isChecked() != m_context.settings().keepScripts())
            m_context.settings().setKeepScripts(chk_KeepScripts->isChecked());
    } catch (const NimbrilError& e) {
        m_context.prompts().error(this, m_context.language().translate(e.message()));
    }
}

void SetupDialog::AddToolButton()
{
    const LanguageCatalogue& language = m_context.language();
    const auto caption = [&language](const char* item) {
        return WithoutMnemonic(
            language.text(QStringLiteral("Form_Main.%1.Caption").arg(QString::fromLatin1(item))));
    };
    const QStringList all = {QStringLiteral("--scope"), QStringLiteral("all")};
    const QList<LauncherAction> actions = {
        {QStringLiteral("SaveCurrentPage"),
         caption("m_SaveCurrentPage"),
         {QStringLiteral("--scope"), QStringLiteral("current"), QStringLiteral("page")}},
        {QStringLiteral("SaveAllPages"), caption("m_SaveAllPages"), all + QStringList{"page"}},
        {QStringLiteral("SavePhoto"), caption("m_SavePhoto"), all + QStringList{"photo"}},
        {QStringLiteral("SaveMusic"), caption("m_SaveMusic"), all + QStringList{"music"}},
        {QStringLiteral("SaveFlash"), caption("m_SaveFlash"), all + QStringList{"flash"}},
        {QStringLiteral("SaveText"), caption("m_SaveText"), all + QStringList{"text"}},
    };
    const QString product = language.text(QStringLiteral("C_NimbrilApp"));
    m_shell.AddToolButton(product, product + QStringLiteral(": ") + actions.first().name, actions);
}

void SetupDialog::RemoveToolButton()
{
    m_shell.RemoveToolButton();
}

void SetupDialog::AddAutoRun()
{
    m_shell.AddAutoRun();
}

void SetupDialog::RemoveAutoRun()
{
    m_shell.RemoveAutoRun();
}
