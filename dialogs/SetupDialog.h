#pragma once

#include "Autostart.h"
#include "Registry.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class AppContext;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QShowEvent;

// Where the setup dialog keeps its entries outside the program; tests point each one into their
// own folder. An empty field means the real place, looked up when it is used.
struct SetupPlaces
{
    QString programDir;      // the program folder, where "nb.ico" is
    QString registryFile;    // programDir + "registry.ini"
    QString autostartFolder; // the user's XDG autostart folder
    QString executable;      // the running program's full path
    QString launcherFolder;  // the user's applications folder, for the capture launcher
};

// The two entries the setup dialog owns outside the program: the browser toolbar button key,
// which the capture launcher mirrors, and the start-up value, which the autostart entry mirrors.
// Failures are silent, as the dialog reports none; the next showing reads back what is really
// there.
class SetupShell
{
public:
    static const QString ToolButtonKey;
    static const QString ToolButtonClsid;
    static const QString RunKey;
    static const QString RunValueName;

    explicit SetupShell(const SetupPlaces& places = {});

    struct RunOptions
    {
        bool toolButton = false;     // the toolbar button key opens
        bool startupValue = false;   // the start-up value is present and not empty
        bool autostartEntry = false; // the autostart entry starts this program
        // What starts the program at log-in is the autostart entry, whatever the value says.
        bool autoRun() const { return autostartEntry; }
    };
    RunOptions ReadRunOptions() const;

    // Writes the six values of the toolbar button key when "nb.ico" is in the program folder,
    // and then the capture launcher with these actions, which run the capture program beside
    // this one.
    void AddToolButton(const QString& buttonText, const QString& launcherName = QString(),
                       const QList<LauncherAction>& actions = {}) const;
    void RemoveToolButton() const;
    void AddAutoRun() const;
    void RemoveAutoRun() const;

    QString Executable() const;
    Registry registry() const;
    AutostartEntry autostart() const;
    CaptureLauncher launcher() const;

private:
    SetupPlaces m_places;
};

// Every backslash written as two, all through the text.
QString DoubleBackslashes(const QString& text);

// The setup dialog: the user-interface language, the browser toolbar button and starting with
// the session. Created once at start-up and shown modally again and again; nothing outside the
// program changes before OK, and Cancel or the close box puts the language back.
class SetupDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SetupDialog(AppContext& context, QWidget* parent = nullptr,
                         const SetupPlaces& places = {});

    // What the main menu's Setup command calls: shows the dialog modally.
    int ShowModalSetup();

    void FormShow();
    void FillLanguageList();
    void ApplyLanguage();
    void ReadRunOptions();
    void LanguageListChange();
    void btn_OKClick();
    void FormClose(int result);

    void AddToolButton();
    void RemoveToolButton();
    void AddAutoRun();
    void RemoveAutoRun();

    // Every way of closing ends here, so Cancel, Escape and the close box restore the language
    // and OK writes it.
    void done(int result) override;

    const SetupShell& shell() const { return m_shell; }

    QGroupBox* gb_Language;
    QLabel* lbl_SelectLanguage;
    QComboBox* cb_Language;
    QGroupBox* gb_RunOptions;
    QCheckBox* chk_AddToolButton;
    QCheckBox* chk_AutoRun;
    QCheckBox* chk_ClassicPages; // whole pages saved the classic way (Config.ini)
    QCheckBox* chk_KeepScripts;  // saved pages run their scripts again (Config.ini)
    QPushButton* btn_OK;
    QPushButton* btn_Cancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppContext& m_context;
    SetupShell m_shell;
    // The language when the dialog was shown, which Cancel puts back.
    QString m_savedLanguage;
};
