#pragma once

#include "ColorFormats.h"
#include "PaletteFile.h"

#include <QDialog>
#include <QList>

class AppContext;
class ColorCell;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollBar;
class QTimer;

// The colour picker: 24 cells that take screen colours under the pointer every 50 ms (the picker
// holds the mouse meanwhile, so the click that stops it reaches no other window), an editor
// for the selected cell's colour with one-step undo, copying in four text forms, and palette
// files. The screen is read through the context's desktop, so a test can stand in for it.
class ColorPicker : public QDialog
{
    Q_OBJECT
public:
    // CurrentPaletteFile is the palette file "Save" writes to without asking, shared by every
    // picker of the run: set by every successful save, save-as and load, never cleared.
    ColorPicker(AppContext& context, QString& currentPaletteFile, QWidget* owner = nullptr);
    ~ColorPicker() override;

    // Reads a palette file into the cells and makes it the current palette file. Shows nothing:
    // false with *ioError empty means the file is no palette file (show "C_BadFileFormat"); false
    // with *ioError set means it could not be read, and *ioError says why.
    bool LoadPaletteFile(const QString& path, QString* ioError = nullptr);

    // The cells' colours, cell number n at index n - 1.
    PaletteCells Colors() const;
    ColorCell* SelectedCell() const { return m_selected; }
    bool Capturing() const;

    void ApplyLanguage();
    void ShowCellColor();
    void LockColorBars(bool lock);

    // The 24 cells in the order they were made (cell numbers 1, 2, 3, 7, 8, 9, 4, ...).
    QList<ColorCell*> cells;
    QWidget* shp_Focus;
    QWidget* shp_Band;
    QLabel* lbl_Help;
    QGroupBox* gb_ColorValue;
    QLabel* lbl_ColorHex;
    QLabel* lbl_ColorDecimal;
    QLabel* lbl_Red;
    QLabel* lbl_Green;
    QLabel* lbl_Blue;
    QLineEdit* edt_ColorHex;
    QLineEdit* edt_ColorDecimal;
    QLineEdit* edt_Red;
    QLineEdit* edt_Green;
    QLineEdit* edt_Blue;
    QScrollBar* sb_Red;
    QScrollBar* sb_Green;
    QScrollBar* sb_Blue;
    QPushButton* btn_Change;
    QPushButton* btn_Load;
    QPushButton* btn_SaveAs;
    QPushButton* btn_Save;
    QPushButton* btn_CopyColor;
    QTimer* CaptureTimer;
    QMenu* pm_CopyColor;
    QAction* m_WebPage;
    QAction* m_Delphi;
    QAction* m_VB;
    QAction* m_VC;
    QAction* m_Standard;

    // The handlers, public so that the program and tests can drive the picker as a user would.
    void SampleScreenColor();
    void CellMouseDown(ColorCell* cell, Qt::MouseButton button);
    void ColorBarChange(QScrollBar* bar);
    void btn_ChangeClick();
    void btn_CopyColorMouseDown();
    void CopyColorItemClick(QAction* item);
    void btn_SaveClick();
    void btn_SaveAsClick();
    void btn_LoadClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void StartCapture();
    void StopCapture();
    // Where the screen cannot be read, the desktop lets the user pick the colour instead.
    void PickThroughDesktop();
    void TakeScreenColor(QRgb rgb);
    void ShowColorValue(ColorValue color);
    void SetBarsQuietly(ColorBytes bytes);
    // Editing: the bars change the selected cell, and the Change button undoes the edit.
    void SetEditing(bool editing);
    QString PrepareColorFolder();
    void SaveWithDialog(const QString& folder);
    bool WriteCells(const QString& fileName);
    QRect NativeWindowRect() const;

    AppContext& m_context;
    QString& m_currentPaletteFile;
    ColorCell* m_selected = nullptr;
    bool m_editing = false;
    ColorBytes m_undoColor;
    ColorValue m_undoValue = 0;
    bool m_quietBars = false;
    // Centred on the screen at the first showing only; later it stays where the user put it.
    bool m_placed = false;
    // Counts the desktop picks asked for; an answer to an earlier one, or one that comes after
    // the picker was hidden, is dropped.
    quint64 m_desktopPick = 0;
};
