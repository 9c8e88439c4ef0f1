#pragma once

#include "ColorFormats.h"
#include "PaletteFile.h"

#include <QDialog>
#include <QList>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollBar;
class QTimer;

// One numbered palette cell: a rounded swatch that reports mouse presses to the picker.
class TColorCell : public QWidget
{
    Q_OBJECT
public:
    TColorCell(int tag, QWidget* parent);

    int Tag() const { return m_tag; }
    ColorValue color() const { return m_color; }
    void setColor(ColorValue color);

Q_SIGNALS:
    void mouseDown(TColorCell* cell, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_tag;
    ColorValue m_color = 0x00FFFFFF;
};

// The colour picker: 24 cells that take screen colours under the pointer every 50 ms, an editor
// for the selected cell's colour with one-step undo, copying in four text forms, and palette
// files. The screen is read through Desktop(), so a test can stand in for it.
class TForm_SaveColor : public QDialog
{
    Q_OBJECT
public:
    explicit TForm_SaveColor(QWidget* owner = nullptr);
    ~TForm_SaveColor() override;

    // Reads a palette file into the cells and makes it the current palette file. Shows nothing:
    // false with *ioError empty means the file is no palette file (show "C_BadFileFormat"); false
    // with *ioError set means it could not be read, and *ioError says why.
    bool LoadPaletteFile(const QString& path, QString* ioError = nullptr);

    // The cells' colours, cell number n at index n - 1.
    PaletteCells Colors() const;
    TColorCell* SelectedCell() const { return m_selected; }
    bool Capturing() const;

    void ApplyLanguage();
    void ShowCellColor();
    void LockColorBars(bool lock);

    // The 24 cells in the order they were made (cell numbers 1, 2, 3, 7, 8, 9, 4, ...).
    QList<TColorCell*> cells;
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
    QTimer* Timer1;
    QMenu* PopupMenu1;
    QAction* m_WebPage;
    QAction* m_Delphi;
    QAction* m_VB;
    QAction* m_VC;
    QAction* m_Standard;

    // The handlers, public so that the program and tests can drive the picker as a user would.
    void Timer1Timer();
    void Shape1MouseDown(TColorCell* cell, Qt::MouseButton button);
    void sb_RedChange(QScrollBar* bar);
    void btn_ChangeClick();
    void btn_CopyColorMouseDown();
    void m_WebPageClick(QAction* item);
    void btn_SaveClick();
    void btn_SaveAsClick();
    void btn_LoadClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void StopCapture();
    void ShowColorValue(ColorValue color);
    void SetBarsQuietly(ColorBytes bytes);
    bool EditingColor() const;
    QString PrepareColorFolder();
    void SaveWithDialog(const QString& folder);
    bool WriteCells(const QString& fileName);
    QRect NativeWindowRect() const;

    TColorCell* m_selected = nullptr;
    ColorBytes m_undoColor;
    ColorValue m_undoValue = 0;
    bool m_quietBars = false;
    // Centred on the screen at the first showing only; later it stays where the user put it.
    bool m_placed = false;
};
